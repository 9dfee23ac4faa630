#include "servicehost.h"

#include "appsettings.h"
#include "board.h"
#include "heartbeat.h"
#include "instancedirectory.h"
#include "instancelock.h"
#include "journal.h"
#include "loadtranslations.h"
#include "metricswriter.h"
#include "systemdnotifier.h"
#include "unixsignalwatcher.h"
#include "watchdog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
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
    paths.stateDir = fromEnvironment("STATE_DIRECTORY");
    paths.runtimeDir = !runtimeDir.isEmpty() ? runtimeDir : InstanceDirectory::path();
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
    else if (!m_paths.stateDir.isEmpty() && !QFileInfo(m_paths.config).isWritable())
        m_settings = new AppSettings(QSettings::IniFormat, m_paths.config,
                                     m_paths.stateDir + QStringLiteral("/state.conf"), this);
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

    // Under systemd the journal's entries also go to journald, with their
    // priority. The serial trace and the cycle's debug lines, several every
    // cycle, would bury them there (QT_LOGGING_RULES brings them back); Qt's
    // warnings get their priority too.
    const bool journald =
        !qEnvironmentVariableIsEmpty("JOURNAL_STREAM") || SystemdNotifier::isActive();
    m_journal->setEcho(journald);
    if (journald) {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\ndefault.info=false"));
        qSetMessagePattern(QStringLiteral(
            "%{if-warning}<4>%{endif}%{if-critical}<3>%{endif}%{if-fatal}<2>%{endif}%{message}"));
    }

    m_watchdog = new Watchdog(m_settings, m_journal, Watchdog::CallerThread, this);
    Heartbeat *heartbeat = m_watchdog->heartbeat();
    // Where no metrics directory is set, the system service publishes into
    // the one Debian's node exporter reads when it may write there, and
    // otherwise stays silent: only a directory someone chose is warned about.
    const QString exporterDir = QStringLiteral("/var/lib/prometheus/node-exporter");
    const bool system = !qEnvironmentVariableIsEmpty("RUNTIME_DIRECTORY");
    if (system && !languageStore.contains(QStringLiteral("metrics/dir")) &&
        QFileInfo(exporterDir).isDir() && QFileInfo(exporterDir).isWritable())
        m_watchdog->metrics()->setDirectory(exporterDir);

    // Each cycle tells systemd it is alive: a cycle that hangs stops the
    // messages and systemd restarts the service long before the board would
    // reset the PC.
    m_notifier = new SystemdNotifier(this);
    connect(heartbeat, &Heartbeat::cycleChanged, this, [this] {
        m_notifier->watchdog();
        m_notifier->status(statusLine());
    });

    m_watchdog->start();
    // The control socket: the system service's is its group's (0660), one
    // started by hand its user's alone.
    QString reason;
    if (!m_watchdog->listen(m_paths.socket, system, &reason)) {
        m_error = QStringLiteral("cannot listen on %1: %2").arg(m_paths.socket, reason);
        return false;
    }
    m_notifier->status(statusLine());
    m_notifier->ready();
    return true;
}

QString ServiceHost::statusLine() const
{
    if (!m_watchdog)
        return QString();
    const Board *board = m_watchdog->board();
    const Heartbeat *heartbeat = m_watchdog->heartbeat();
    QStringList parts;
    if (board->port().isEmpty())
        parts << QStringLiteral("no port");
    else if (board->model().isEmpty())
        parts << QStringLiteral("board on %1 not identified").arg(board->port());
    else
        parts << QStringLiteral("%1 v%2 on %3%4")
                     .arg(board->model(), board->firmware(), board->port(),
                          board->isSuspended() ? QStringLiteral(" (suspended)") : QString());
    const qint64 ack = heartbeat->lastAck();
    parts << (ack > 0 ? QStringLiteral("last acknowledgement %1")
                            .arg(QDateTime::fromMSecsSinceEpoch(ack, Qt::UTC).toString(Qt::ISODate))
                      : QStringLiteral("no acknowledgement yet"));
    if (heartbeat->networkCheck())
        parts << QStringLiteral("network %1 %2")
                     .arg(heartbeat->networkTarget(), heartbeat->networkOk()
                                                          ? QStringLiteral("ok")
                                                          : QStringLiteral("failing"));
    if (heartbeat->processCheck() && !heartbeat->processName().isEmpty())
        parts << QStringLiteral("process %1 %2")
                     .arg(heartbeat->processName(), heartbeat->processOk()
                                                        ? QStringLiteral("ok")
                                                        : QStringLiteral("failing"));
    return parts.join(QStringLiteral(", "));
}

void ServiceHost::stop()
{
    if (!m_journal)
        return;
    if (m_notifier)
        m_notifier->stopping();

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
