#include "service/commandline.h"

#include "storage/appsettings.h"

#include <QCommandLineParser>

namespace
{
const QString config = QStringLiteral("config");
const QString socket = QStringLiteral("socket");
const QString lang = QStringLiteral("lang");
const QString softgl = QStringLiteral("softgl");
const QString legacy = QStringLiteral("legacy");
} // namespace

void CommandLine::addServiceOptions(QCommandLineParser &parser)
{
    parser.addOption(
        {config, QStringLiteral("Settings file (INI) to use."), QStringLiteral("path")});
    parser.addOption(
        {socket, QStringLiteral("Control socket to listen on."), QStringLiteral("path")});
}

QString CommandLine::configPath(const QCommandLineParser &parser)
{
    return parser.value(config);
}

QString CommandLine::socketPath(const QCommandLineParser &parser)
{
    return parser.value(socket);
}

void CommandLine::addDesktopOptions(QCommandLineParser &parser)
{
    parser.addOption({lang, QStringLiteral("Set UI language to <lang>"), lang});
    parser.addOption({softgl, QStringLiteral("User software rendering instead of OpenGL")});
    parser.addOption({legacy, QStringLiteral("Run in tovel2 compability mode")});
}

void CommandLine::applyDesktopOptions(const QCommandLineParser &parser, AppSettings &settings)
{
    settleLanguage(settings, parser.isSet(lang), parser.value(lang));
    if (parser.isSet(softgl))
        settings.setSoftwareRendering(true);
    if (parser.isSet(legacy))
        settings.setLegacyMode(true);
}

QString CommandLine::settleLanguage(AppSettings &settings, bool given, const QString &value,
                                    const QLocale &system)
{
    if (given) {
        settings.setLanguage(value);
    } else if (!settings.contains(AppSettings::Key::Language)) {
        const QString code = system.name().section(QLatin1Char('_'), 0, 0);
        const bool known = code == QLatin1String("en") || code == QLatin1String("ru");
        settings.setLanguage(known ? code : QStringLiteral("en"));
    }
    return settings.language();
}
