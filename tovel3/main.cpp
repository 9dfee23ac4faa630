#include "storage/appsettings.h"
#include "service/instancelock.h"
#include "storage/journal.h"
#include "service/loadtranslations.h"
#include "window/materialfixes.h"
#include "window/qmlhost.h"
#include "service/servicehost.h"
#include "integration/singleapphandler.h"
#include "window/startup.h"
#include "tray/trayicon.h"
#include "service/unixsignalwatcher.h"
#include "window/windowhost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QMessageBox>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSessionManager>
#include <QSettings>
#include <QTranslator>

#include <cstdio>

namespace
{
Journal *journal = nullptr;

void logAboutToClose()
{
    if (journal)
        journal->log(QCoreApplication::translate("Logger", "application is about to be closed"));
}

void setIdentity(QCoreApplication &app)
{
    app.setOrganizationName(QStringLiteral("Brennic"));
    app.setApplicationName(QStringLiteral("Tovel3"));
    app.setApplicationVersion(QStringLiteral(TOVEL3_VERSION));
}

// Without a display there is no window to show: the watchdog runs the way the
// service does, without a Qt Quick scene. A window already running elsewhere
// for this user is shown instead, as on a second start.
int runWithoutDisplay(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setIdentity(app);
    // Questions about the program are answered whatever runs already.
    const QStringList informational = {QStringLiteral("-h"), QStringLiteral("--help"),
                                       QStringLiteral("--help-all"), QStringLiteral("-v"),
                                       QStringLiteral("--version")};
    for (const QString &argument : app.arguments().mid(1))
        if (informational.contains(argument))
            return ServiceHost::run(app.arguments(), ServiceHost::DesktopOptions);
    SingleAppHandler guard(&app);
    if (!guard.claimInstance()) {
        guard.sendMessage(QStringLiteral("show"));
        return 0;
    }
    return ServiceHost::run(app.arguments(), ServiceHost::DesktopOptions);
}
} // namespace

int main(int argc, char *argv[])
{
    UnixSignalWatcher::ignoreBrokenPipe();
    if (Startup::needsOffscreenPlatform(argc, argv))
        return runWithoutDisplay(argc, argv);

    QmlHost::registerTypes();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);

    QApplication app(argc, argv);
    setIdentity(app);
    app.setWindowIcon(TrayIcon::pngIcon(QStringLiteral(":/tovel3.png")));
    app.addLibraryPath(app.applicationDirPath());

    // The counterpart of the session manager's request on Linux: a
    // termination signal logs the same line and ends the event loop normally.
    // Installed before anything can be claimed, so a signal that arrives
    // while starting up is handled once the event loop runs.
    UnixSignalWatcher signalWatcher;
    const auto end = [&app] {
        logAboutToClose();
        app.quit();
    };
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &app, end);
    // A closed terminal ends the program started from it.
    QObject::connect(&signalWatcher, &UnixSignalWatcher::hangUp, &app, end);

    SingleAppHandler guard(&app);
    if (!guard.claimInstance()) {
        guard.sendMessage(QStringLiteral("show"));
        return 0;
    }
    // The service of this user may already watch the board with the same
    // settings.
    Startup::divertIrregularSettingsFile();
    // Without a private directory the guard above runs unguarded too.
    InstanceLock settingsLock(SingleAppHandler::instanceDirectory(), AppSettings::userStorePath());
    if (!SingleAppHandler::instanceDirectory().isEmpty() && !settingsLock.tryLock()) {
        std::fprintf(stderr, "tovel3: %s\n", qPrintable(settingsLock.holder()));
        const QString platform = QGuiApplication::platformName();
        if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
            QMessageBox::critical(nullptr, QStringLiteral("Tovel3"), settingsLock.holder());
        return 1;
    }

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption langOption(QStringLiteral("lang"),
                                  QStringLiteral("Set UI language to <lang>"),
                                  QStringLiteral("lang"));
    QCommandLineOption softglOption(QStringLiteral("softgl"),
                                    QStringLiteral("User software rendering instead of OpenGL"));
    QCommandLineOption legacyOption(QStringLiteral("legacy"),
                                    QStringLiteral("Run in tovel2 compability mode"));
    parser.addOption(langOption);
    parser.addOption(softglOption);
    parser.addOption(legacyOption);
    parser.process(app);

    QSettings settings;
    Startup::settleLanguage(settings, parser.isSet(langOption), parser.value(langOption));
    if (parser.isSet(softglOption))
        settings.setValue(QStringLiteral("softgl"), true);
    if (parser.isSet(legacyOption))
        settings.setValue(QStringLiteral("legacy"), true);
    settings.sync();

    QTranslator *translator = loadTranslations(&app, nullptr, QStringLiteral("lang"));

    QQuickStyle::setStyle(QStringLiteral("Material"));
    if (settings.value(QStringLiteral("softgl"), false).toBool())
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    app.setQuitOnLastWindowClosed(false);

    journal = new Journal(nullptr, QString());
    journal->setup(QString(), QStringLiteral("tovel3.log"));
    AppSettings(nullptr).applyToJournal(journal);
    journal->log(QCoreApplication::translate("Logger", "application started"));

    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, &app,
        [](QSessionManager &) { logAboutToClose(); }, Qt::DirectConnection);

    int exitCode = 0;
    {
        WindowHost host(journal);
        QQmlApplicationEngine engine;
        engine.addImportPath(app.applicationDirPath());
        MaterialFixes::install(&engine);
        QmlHost::publishContext(engine.rootContext(), &guard, journal);
        host.publish(engine.rootContext());
        QObject::connect(&engine, &QQmlApplicationEngine::quit, &app, &QCoreApplication::quit);
        host.loadWindow(&engine);

        exitCode = app.exec();
    }
    // The window and the engine are gone: nothing else writes the journal now.
    journal->log(QCoreApplication::translate("Logger", "application closed"));
    delete translator;
    delete journal;
    journal = nullptr;
    return exitCode;
}
