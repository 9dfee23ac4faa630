#include "servicehost.h"

#include "appsettings.h"
#include "instancelock.h"
#include "journal.h"
#include "loadtranslations.h"
#include "singleapphandler.h"
#include "unixsignalwatcher.h"
#include "watchdog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTranslator>

#include <cstdio>
#include <memory>

namespace
{
QString fromEnvironment(const char *name)
{
    // systemd may pass several directories separated by ':'; the first is ours.
    const QString value = qEnvironmentVariable(name);
    return value.section(QLatin1Char(':'), 0, 0);
}

void complain(const QString &text)
{
    std::fprintf(stderr, "tovel3d: %s\n", qPrintable(text));
}
} // namespace

ServiceHost::Paths ServiceHost::resolvePaths(const QString &configOption,
                                             const QString &socketOption)
{
    Paths paths;
    const QString configDir = fromEnvironment("CONFIGURATION_DIRECTORY");
    const QString logsDir = fromEnvironment("LOGS_DIRECTORY");
    const QString runtimeDir = fromEnvironment("RUNTIME_DIRECTORY");

    if (!configOption.isEmpty())
        paths.config = QFileInfo(configOption).absoluteFilePath();
    else if (!configDir.isEmpty())
        paths.config = configDir + QStringLiteral("/tovel3.conf");

    paths.journalDir = logsDir;
    paths.runtimeDir = !runtimeDir.isEmpty() ? runtimeDir : SingleAppHandler::instanceDirectory();
    paths.socket =
        !socketOption.isEmpty() ? socketOption : paths.runtimeDir + QStringLiteral("/control");
    return paths;
}

ServiceHost::ServiceHost(const Paths &paths, QObject *parent)
    : QObject(parent)
    , m_paths(paths)
{
}

ServiceHost::~ServiceHost()
{
    delete m_watchdog;
    delete m_translator;
    delete m_journal;
    delete m_lock;
}

bool ServiceHost::start()
{
    if (m_paths.config.isEmpty())
        AppSettings::divertIrregularUserStore();
    const QString config = m_paths.config.isEmpty() ? AppSettings::userStorePath() : m_paths.config;
    // Reading a FIFO or a device put in the settings file's place would block.
    if (QFileInfo::exists(config) && !QFileInfo(config).isFile() && !m_paths.config.isEmpty()) {
        m_error = QStringLiteral("the settings file %1 is not a regular file").arg(config);
        return false;
    }
    if (m_paths.runtimeDir.isEmpty()) {
        m_error =
            QStringLiteral("no private runtime directory for the lock and the control socket");
        return false;
    }
    m_lock = new InstanceLock(m_paths.runtimeDir, config);
    if (!m_lock->tryLock()) {
        m_error = m_lock->holder();
        return false;
    }

    if (m_paths.config.isEmpty())
        m_settings = new AppSettings(this);
    else
        m_settings = new AppSettings(QSettings::IniFormat, m_paths.config, this);
    if (m_settings->status() != QSettings::NoError) {
        m_error = QStringLiteral("cannot read the settings file %1").arg(config);
        return false;
    }

    QSettings languageStore(config, m_paths.config.isEmpty() ? QSettings::NativeFormat
                                                             : QSettings::IniFormat);
    m_translator =
        loadTranslations(QCoreApplication::instance(), &languageStore, QStringLiteral("lang"));

    m_journal = new Journal(nullptr, QString());
    m_journal->setup(m_paths.journalDir, QStringLiteral("tovel3.log"));
    m_journal->setMaxSizeMB(quint64(qMax(1, m_settings->logSizeMb())));
    m_journal->setBackupCount(quint32(qMax(0, m_settings->logBackups())));
    m_journal->setPaused(!m_settings->loggingEnabled());
    m_journal->log(QCoreApplication::translate("Logger", "application started"));

    m_watchdog = new Watchdog(m_settings, m_journal, Watchdog::CallerThread, this);
    m_watchdog->start();
    return true;
}

void ServiceHost::stop()
{
    if (!m_journal)
        return;
    m_journal->log(QCoreApplication::translate("Logger", "application is about to be closed"));
    delete m_watchdog;
    m_watchdog = nullptr;
    m_journal->log(QCoreApplication::translate("Logger", "application closed"));
}

int ServiceHost::run(const QStringList &arguments, Options options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Keeps a USB watchdog board fed while the computer is healthy."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(QStringLiteral("config"),
                                          QStringLiteral("Settings file (INI) to use."),
                                          QStringLiteral("path"));
    const QCommandLineOption socketOption(QStringLiteral("socket"),
                                          QStringLiteral("Control socket to listen on."),
                                          QStringLiteral("path"));
    parser.addOption(configOption);
    parser.addOption(socketOption);
    const QCommandLineOption langOption(QStringLiteral("lang"),
                                        QStringLiteral("Set UI language to <lang>"),
                                        QStringLiteral("lang"));
    const QCommandLineOption softglOption(
        QStringLiteral("softgl"), QStringLiteral("User software rendering instead of OpenGL"));
    const QCommandLineOption legacyOption(QStringLiteral("legacy"),
                                          QStringLiteral("Run in tovel2 compability mode"));
    if (options == DesktopOptions) {
        parser.addOption(langOption);
        parser.addOption(softglOption);
        parser.addOption(legacyOption);
    }
    parser.process(arguments);

    UnixSignalWatcher signalWatcher;
    ServiceHost host(resolvePaths(parser.value(configOption), parser.value(socketOption)));
    if (options == DesktopOptions) {
        std::unique_ptr<QSettings> settings(
            host.m_paths.config.isEmpty()
                ? new QSettings
                : new QSettings(host.m_paths.config, QSettings::IniFormat));
        if (parser.isSet(langOption))
            settings->setValue(QStringLiteral("UI/Language"), parser.value(langOption));
        if (parser.isSet(softglOption))
            settings->setValue(QStringLiteral("softgl"), true);
        if (parser.isSet(legacyOption))
            settings->setValue(QStringLiteral("legacy"), true);
    }
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested,
                     QCoreApplication::instance(), &QCoreApplication::quit);
    if (!host.start()) {
        complain(host.errorString());
        return 1;
    }
    const int code = QCoreApplication::exec();
    host.stop();
    return code;
}
