#pragma once

#include <QString>

class QCoreApplication;
class AppSettings;
class QTranslator;

// Installs two translators into app: one for Qt's own texts (Qt's catalogue
// for the language, from Qt's translations directory) and, last, the
// application catalogue from the resource directory ":/<directory>/" chosen by
// the language setting (of settings, or of the current organisation's store
// when settings is null; none, or an empty value, means the system locale). Returns the
// application translator, which the caller deletes; it is installed even when
// no catalogue matched. The Qt translator is a child of app.
QTranslator *loadTranslations(QCoreApplication *app, const AppSettings *settings,
                              const QString &directory);
