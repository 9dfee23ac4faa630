#pragma once

#include <QLocale>
#include <QString>

class AppSettings;
class QCommandLineParser;

// The command-line options, declared once for both programs: tovel3d takes
// the service's; the desktop program takes its own, with a window or, without
// a display, beside the service's.
namespace CommandLine
{
// --config PATH, --socket PATH
void addServiceOptions(QCommandLineParser &parser);
QString configPath(const QCommandLineParser &parser);
QString socketPath(const QCommandLineParser &parser);

// --lang LANG, --softgl, --legacy
void addDesktopOptions(QCommandLineParser &parser);
// Stores what the desktop options given ask for: the interface language
// (settled as settleLanguage() says), software rendering, compatibility mode.
void applyDesktopOptions(const QCommandLineParser &parser, AppSettings &settings);

// Settles "UI/Language": an explicit value is stored unchanged; otherwise a
// store without the entry gets the system's language when it is "en" or "ru",
// else "en"; an existing entry (even empty) is left alone. Returns the value
// now stored.
QString settleLanguage(AppSettings &settings, bool given, const QString &value,
                       const QLocale &system = QLocale::system());
} // namespace CommandLine
