#include "window/desktopstartup.h"

#include "integration/singleapphandler.h"
#include "service/commandline.h"
#include "service/instancelock.h"
#include "service/loadtranslations.h"
#include "service/servicehost.h"
#include "service/unixsignalwatcher.h"
#include "storage/appsettings.h"
#include "storage/journal.h"
#include "tray/trayicon.h"
#include "window/materialfixes.h"
#include "window/qmlhost.h"
#include "window/startup.h"
#include "window/windowhost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QMessageBox>
#include <QQmlAbstractUrlInterceptor>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSessionManager>
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

int DesktopStartup::run(int argc, char **argv, QQmlAbstractUrlInterceptor *interceptor)
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
    CommandLine::addDesktopOptions(parser);
    parser.process(app);
    // One look at the store for what start-up needs before the window.
    AppSettings settings;
    CommandLine::applyDesktopOptions(parser, settings);

    QTranslator *translator = loadTranslations(&app, nullptr, QStringLiteral("lang"));

    QQuickStyle::setStyle(QStringLiteral("Material"));
    if (settings.softwareRendering())
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    app.setQuitOnLastWindowClosed(false);

    journal = new Journal(nullptr, QString());
    journal->setup(QString(), QStringLiteral("tovel3.log"));
    settings.applyToJournal(journal);
    journal->log(QCoreApplication::translate("Logger", "application started"));

    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, &app,
        [](QSessionManager &) { logAboutToClose(); }, Qt::DirectConnection);

    int exitCode = 0;
    {
        WindowHost host(journal);
        QQmlApplicationEngine engine;
        engine.addImportPath(app.applicationDirPath());
        if (interceptor)
            engine.setUrlInterceptor(interceptor);
        MaterialFixes::install(&engine);
        QmlHost::publishApp(&engine, &guard, journal);
        host.publish(&engine);
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
