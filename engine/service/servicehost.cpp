#include "service/servicehost.h"

#include "device/board.h"
#include "engine.h"
#include "logging.h"
#include "monitor/heartbeat.h"
#include "monitor/metricswriter.h"
#include "service/commandline.h"
#include "service/instancedirectory.h"
#include "service/instancelock.h"
#include "service/loadtranslations.h"
#include "service/systemdnotifier.h"
#include "service/unixsignalwatcher.h"
#include "storage/appsettings.h"
#include "storage/journal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaEnum>
#include <QSettings>
#include <QTimer>
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

// Where journald reads our standard error (under systemd): lines then carry
// their syslog priority, which journald takes from a "<N>" in front.
bool toJournald()
{
    return !qEnvironmentVariableIsEmpty("JOURNAL_STREAM") || SystemdNotifier::isActive();
}

enum Priority { Error = 3, Warning = 4, Info = 6 };

// A line about the service itself (not a journal entry) on standard error.
void say(Priority priority, const QString &text)
{
    if (toJournald())
        std::fprintf(stderr, "<%d>%s\n", int(priority), qPrintable(text));
    else
        std::fprintf(stderr, "tovel3d: %s\n", qPrintable(text));
    std::fflush(stderr);
}

// Why the settings file cannot be used; empty when it can. A file that is
// missing is no error: the defaults apply.
QString settingsFileProblem(const QString &path)
{
    if (!QFileInfo::exists(path))
        return QString();
    // Reading a FIFO or a device put in the settings file's place would block.
    if (!QFileInfo(path).isFile())
        return QStringLiteral("%1 is not a regular file").arg(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    QSettings parsed(path, QSettings::IniFormat);
    parsed.setIniCodec("UTF-8");
    parsed.allKeys();
    if (parsed.status() == QSettings::AccessError)
        return QStringLiteral("cannot read %1").arg(path);
    if (parsed.status() != QSettings::FormatError)
        return QString();
    // Where it is, as far as a plain look tells: a section header that does
    // not close.
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[') && !line.endsWith(']'))
            return QStringLiteral("syntax error in %1, line %2: %3")
                .arg(path)
                .arg(number)
                .arg(QString::fromUtf8(line.left(80)));
    }
    return QStringLiteral("syntax error in %1").arg(path);
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
    if (!socketOption.isEmpty())
        paths.socket = socketOption;
    else if (!paths.runtimeDir.isEmpty())
        paths.socket = paths.runtimeDir + QStringLiteral("/control");
    return paths;
}

ServiceHost::ServiceHost(const Paths &paths, QObject *parent)
    : QObject(parent)
    , m_paths(paths)
{
}

ServiceHost::~ServiceHost()
{
    delete m_engine;
    delete m_translator;
    delete m_journal;
    delete m_lock;
}

bool ServiceHost::start()
{
    if (m_paths.config.isEmpty())
        AppSettings::divertIrregularUserStore();
    const QString config = m_paths.config.isEmpty() ? AppSettings::userStorePath() : m_paths.config;
    if (!m_paths.config.isEmpty()) {
        m_error = settingsFileProblem(config);
        if (!m_error.isEmpty())
            return false;
    }
    if (m_paths.runtimeDir.isEmpty()) {
        // Running unguarded beats not running: the board must be fed.
        say(Warning, QStringLiteral("no private runtime directory: running without the instance "
                                    "lock%1")
                         .arg(m_paths.socket.isEmpty() ? QStringLiteral(" and the control socket")
                                                       : QString()));
    } else {
        m_lock = new InstanceLock(m_paths.runtimeDir, config);
        if (!m_lock->tryLock()) {
            m_error = m_lock->holder();
            return false;
        }
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

    m_translator = loadTranslations(QCoreApplication::instance(), m_settings, QStringLiteral("lang"));

    m_journal = new Journal(nullptr, QString());
    m_journal->setup(m_paths.journalDir, QStringLiteral("tovel3.log"));
    m_settings->applyToJournal(m_journal);
    // Under systemd the journal's entries also go to journald, with their
    // priority.
    m_journal->setEcho(toJournald());
    m_journal->log(QCoreApplication::translate("Logger", "application started"));

    m_engine = new Engine(m_settings, m_journal, Engine::CallerThread, this);
    Heartbeat *heartbeat = m_engine->heartbeat();
    connect(m_engine->board(), &Board::portOpenFailed, this, &ServiceHost::portOpenFailed);
    connect(m_engine->board(), &Board::portSelected, this, [this] { m_portWarned.clear(); });
    // Where no metrics directory is set, the system service publishes into
    // the one Debian's node exporter reads when it may write there, and
    // otherwise stays silent: only a directory someone chose is warned about.
    const QString exporterDir = QStringLiteral("/var/lib/prometheus/node-exporter");
    const bool system = !qEnvironmentVariableIsEmpty("RUNTIME_DIRECTORY");
    if (system && !m_settings->contains(AppSettings::Key::MetricsDir) &&
        QFileInfo(exporterDir).isDir() && QFileInfo(exporterDir).isWritable())
        m_engine->metrics()->setDirectory(exporterDir);

    // Each cycle tells systemd it is alive: a cycle that hangs stops the
    // messages and systemd restarts the service long before the board would
    // reset the PC.
    m_notifier = new SystemdNotifier(this);
    connect(heartbeat, &Heartbeat::cycleChanged, this, [this] {
        m_notifier->watchdog();
        m_notifier->status(statusLine());
    });

    m_engine->start();
    warnAboutSettings();
    if (!m_paths.socket.isEmpty())
        listen();
    m_notifier->status(statusLine());
    m_notifier->ready();
    return true;
}

// The control socket: the system service's is its group's (0660), one
// started by hand its user's alone. Without it the watchdog goes on; the
// socket is tried again until it can be had.
void ServiceHost::listen()
{
    const bool system = !qEnvironmentVariableIsEmpty("RUNTIME_DIRECTORY");
    QString reason;
    if (m_engine->listen(m_paths.socket, system, &reason)) {
        if (m_listenRetry) {
            say(Info, QStringLiteral("control socket %1 ready").arg(m_paths.socket));
            delete m_listenRetry;
            m_listenRetry = nullptr;
        }
        return;
    }
    if (!m_listenRetry) {
        say(Error, QStringLiteral("cannot listen on %1: %2; the watchdog runs without its control "
                                  "socket (tovel3ctl) and tries again every %3 s")
                       .arg(m_paths.socket, reason)
                       .arg(listenRetryMs / 1000));
        m_listenRetry = new QTimer(this);
        m_listenRetry->setInterval(listenRetryMs);
        connect(m_listenRetry, &QTimer::timeout, this, &ServiceHost::listen);
        m_listenRetry->start();
    }
}

// What the settings leave the service unable to do, said at start and at
// each reload when it changed.
void ServiceHost::warnAboutSettings()
{
    QStringList warnings;
    const QString store = m_settings->storeProblem();
    if (!store.isEmpty())
        warnings << QStringLiteral("what tovel3ctl switches (suspend, resume, led) will not "
                                   "survive a restart: %1")
                        .arg(store);
    const bool system = !qEnvironmentVariableIsEmpty("RUNTIME_DIRECTORY");
    if (system && m_settings->processCheckEnabled() && !m_settings->processName().isEmpty() &&
        m_settings->processOwner().isEmpty())
        warnings << QStringLiteral("the process check counts only processes of this service's "
                                   "own user: set monitorowner to the user %1 runs as")
                        .arg(m_settings->processName());
    const QString text = warnings.join(QLatin1Char('\n'));
    if (text == m_settingsWarning)
        return;
    m_settingsWarning = text;
    for (const QString &warning : qAsConst(warnings))
        say(Warning, warning);
}

void ServiceHost::portOpenFailed(const QString &port)
{
    // Once: the search tries again every few seconds.
    if (port == m_portWarned)
        return;
    m_portWarned = port;
    // Why, as far as we can tell without opening it.
    QString problem = portAccessProblem(port);
    if (problem.isEmpty())
        problem = QStringLiteral("in use by another program, or not a serial port");
    say(Warning, QStringLiteral("cannot open the port %1: %2").arg(port, problem));
}

void ServiceHost::reload()
{
    if (!m_settings)
        return;
    // Taken first: every reader of the file shares what was read of it.
    const QMetaEnum keys = QMetaEnum::fromType<AppSettings::Key>();
    QVector<QVariant> before;
    for (int i = 0; i < keys.keyCount(); ++i)
        before << m_settings->value(AppSettings::Key(keys.value(i)));
    const QString config = m_settings->fileName();
    const QString problem = settingsFileProblem(config);
    if (!problem.isEmpty()) {
        say(Error, QStringLiteral("settings not reloaded, the ones in use stay: %1").arg(problem));
        return;
    }
    // The engine follows most settings by itself.
    m_settings->reload();

    QStringList changed;
    for (int i = 0; i < keys.keyCount(); ++i) {
        const auto key = AppSettings::Key(keys.value(i));
        const QVariant now = m_settings->value(key);
        if (now == before.at(i))
            continue;
        changed << AppSettings::keyName(key);
        m_journal->log(QStringLiteral("Settings reloaded: %1 is now %2")
                           .arg(AppSettings::keyName(key), now.toString()));
    }
    if (changed.isEmpty())
        m_journal->log(QStringLiteral("Settings reloaded: nothing changed"));

    // What the engine takes only at its start.
    Board *board = m_engine->board();
    if (changed.contains(AppSettings::keyName(AppSettings::Key::Port)) &&
        !m_settings->port().isEmpty())
        board->setPort(m_settings->port());
    const bool led = !m_settings->ledOff();
    const bool suspended = m_settings->timerSuspended();
    board->setSwitchDefaults(led, suspended);
    if (changed.contains(AppSettings::keyName(AppSettings::Key::LedOff)))
        board->setLed(led);
    if (changed.contains(AppSettings::keyName(AppSettings::Key::TimerSuspended)))
        board->setSuspended(suspended);
    m_engine->updateKeepNotes();
    warnAboutSettings();
    m_notifier->status(statusLine());
}

QString ServiceHost::statusLine() const
{
    if (!m_engine)
        return QString();
    const Board *board = m_engine->board();
    const Heartbeat *heartbeat = m_engine->heartbeat();
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
    delete m_engine;
    m_engine = nullptr;
    m_journal->log(QCoreApplication::translate("Logger", "application closed"));
}

int ServiceHost::run(const QStringList &arguments, Options options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Keeps a USB watchdog board fed while the computer is healthy."));
    parser.addHelpOption();
    parser.addVersionOption();
    CommandLine::addServiceOptions(parser);
    if (options == DesktopOptions)
        CommandLine::addDesktopOptions(parser);
    parser.process(arguments);

    // Under systemd our standard error goes to journald: every line gets its
    // priority. The serial trace and the cycle's debug lines, several every
    // cycle, would bury the rest there (QT_LOGGING_RULES brings them back).
    if (toJournald()) {
        QLoggingCategory::setFilterRules(Logging::journaldRules());
        qSetMessagePattern(QStringLiteral("%{if-debug}<7>%{endif}%{if-info}<6>%{endif}"
                                          "%{if-warning}<4>%{endif}%{if-critical}<3>%{endif}"
                                          "%{if-fatal}<2>%{endif}%{message}"));
    }
    UnixSignalWatcher signalWatcher;
    ServiceHost host(
        resolvePaths(CommandLine::configPath(parser), CommandLine::socketPath(parser)));
    if (options == DesktopOptions) {
        std::unique_ptr<AppSettings> settings(
            host.m_paths.config.isEmpty()
                ? new AppSettings
                : new AppSettings(QSettings::IniFormat, host.m_paths.config));
        CommandLine::applyDesktopOptions(parser, *settings);
    }
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested,
                     QCoreApplication::instance(), &QCoreApplication::quit);
    // A daemon reloads on a hang-up; the desktop program run from a terminal
    // ends with it.
    if (options == ServiceOptions)
        QObject::connect(&signalWatcher, &UnixSignalWatcher::hangUp, &host, &ServiceHost::reload);
    else
        QObject::connect(&signalWatcher, &UnixSignalWatcher::hangUp, QCoreApplication::instance(),
                         &QCoreApplication::quit);
    if (!host.start()) {
        say(Error, host.errorString());
        return 1;
    }
    const int code = QCoreApplication::exec();
    host.stop();
    return code;
}
