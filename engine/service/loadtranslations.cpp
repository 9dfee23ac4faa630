#include "service/loadtranslations.h"

#include "storage/appsettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace
{
// A catalogue for the language code, "*_<code>*.qm", checked as plain text:
// a QDir name filter would compile a regular expression (and load PCRE's
// pages) for one file name.
bool isCatalogue(const QString &name, const QString &code)
{
    const QLatin1String suffix(".qm");
    return name.endsWith(suffix, Qt::CaseInsensitive) &&
           name.leftRef(name.size() - suffix.size())
               .contains(QLatin1Char('_') + code, Qt::CaseInsensitive);
}
} // namespace

QTranslator *loadTranslations(QCoreApplication *app, const AppSettings *settings,
                              const QString &directory)
{
    const QString systemName = QLocale::system().name();
    std::unique_ptr<AppSettings> own;
    if (!settings) {
        own.reset(new AppSettings);
        settings = own.get();
    }
    QString language = settings->contains(AppSettings::Key::Language) ? settings->language()
                                                                      : systemName;
    if (language.isEmpty())
        language = systemName;

    // Qt's own texts: the buttons of dialogs and message boxes, the file
    // dialog. They are in "qtbase" (Debian's qttranslations5-l10n); a Windows
    // deployment carries them merged into "qt".
    auto *qtTranslator = new QTranslator(app);
    qtTranslator->setObjectName(QStringLiteral("qtTranslator"));
    const QString qtDirectory = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    if (!qtTranslator->load(QStringLiteral("qtbase_") + language, qtDirectory))
        qtTranslator->load(QStringLiteral("qt_") + language, qtDirectory);
    app->installTranslator(qtTranslator);

    auto *appTranslator = new QTranslator;
    const QString code = language.section(QLatin1Char('_'), 0, 0);
    const QDir dir(QStringLiteral(":/") + directory + QStringLiteral("/"));
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        if (isCatalogue(name, code)) {
            appTranslator->load(QStringLiteral(":/%1/%2").arg(directory, name));
            break;
        }
    }
    app->installTranslator(appTranslator);
    return appTranslator;
}
