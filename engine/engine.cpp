#include "engine.h"

#include "control/controlserver.h"
#include "device/board.h"
#include "monitor/heartbeat.h"
#include "monitor/metricswriter.h"
#include "storage/appsettings.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QThread>

Engine::Engine(AppSettings *settings, Journal *journal, Threading threading, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_journal(journal)
    , m_board(new Board(journal))
    , m_heartbeat(new Heartbeat(m_board))
    , m_metrics(new MetricsWriter(settings->metricsDir()))
    , m_started(QDateTime::currentMSecsSinceEpoch())
    , m_keepNotes(std::make_shared<KeepNotes>())
{
    m_heartbeat->setJournal(journal);
    // At most one metrics file per cycle, written with the cycle's start.
    connect(m_heartbeat, &Heartbeat::cycleChanged, m_heartbeat, [this] { publishMetrics(); });
    configure();
    followSettings();
    // The LED and the suspension are kept as the board confirmed them,
    // whoever asked: the window, tovel3ctl or a remote command.
    AppSettings *s = settings;
    connect(m_board, &Board::ledConfirmed, s, [this, s](bool on) {
        s->setLedOff(!on);
        updateKeepNotes();
    });
    connect(m_board, &Board::suspendConfirmed, s, [this, s](bool on) {
        s->setTimerSuspended(on);
        updateKeepNotes();
    });
    if (threading == OwnThread) {
        m_thread = new QThread(this);
        m_thread->setObjectName(QStringLiteral("watchdog"));
        m_board->moveToThread(m_thread);
        m_heartbeat->moveToThread(m_thread);
    }
}

Engine::~Engine()
{
    Board *board = m_board;
    Heartbeat *heartbeat = m_heartbeat;
    MetricsWriter *metrics = m_metrics.get();
    ControlServer *control = m_control;
    auto shutdown = [board, heartbeat, metrics, control] {
        delete control;
        heartbeat->stop();
        // A clean end: the file would go on saying the board is connected.
        metrics->removeFile();
        metrics->setDirectory(QString());
        delete heartbeat;
        delete board;
    };
    if (m_thread && m_thread->isRunning()) {
        QMetaObject::invokeMethod(m_board, shutdown, Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
    } else {
        shutdown();
    }
}

QThread *Engine::engineThread() const
{
    return m_thread ? m_thread : thread();
}

void Engine::start()
{
    const QString saved = m_settings->port();
    if (m_thread)
        m_thread->start(QThread::HighPriority);
    // In compatibility mode the reset time goes out with the port's opening,
    // once, when there is a port to write to.
    post([this, saved] {
        m_board->restorePort(saved);
        m_heartbeat->start();
    });
}

bool Engine::listen(const QString &path, bool group, QString *error)
{
    bool listening = false;
    QString reason;
    auto open = [&] {
        delete m_control;
        m_control = new ControlServer(m_board, m_heartbeat);
        listening = m_control->listen(path, group ? ControlServer::Group : ControlServer::UserOnly);
        reason = m_control->errorString();
        if (!listening) {
            delete m_control;
            m_control = nullptr;
        }
    };
    if (m_thread && m_thread->isRunning())
        QMetaObject::invokeMethod(m_board, open, Qt::BlockingQueuedConnection);
    else
        open();
    if (!listening) {
        if (error)
            *error = reason;
        return false;
    }
    AppSettings *s = m_settings;
    connect(m_control, &ControlServer::compatibilityT1Set, s, [s](int t1) { s->setLegacyT1(t1); });
    updateKeepNotes();
    auto notes = m_keepNotes;
    auto setNote = [control = m_control, notes] {
        control->setKeepNote([notes](bool led, bool on) {
            QMutexLocker lock(&notes->mutex);
            return notes->text[led ? 0 : 1][on ? 1 : 0];
        });
    };
    if (m_thread && m_thread->isRunning())
        QMetaObject::invokeMethod(m_board, setNote, Qt::BlockingQueuedConnection);
    else
        setNote();
    return true;
}

void Engine::updateKeepNotes()
{
    const auto note = [this](const QString &what, AppSettings::Key key, bool value) {
        const QString reason = m_settings->unkeptReason(key, value);
        return reason.isEmpty()
                   ? QString()
                   : QStringLiteral("%1 will not survive a restart: %2").arg(what, reason);
    };
    QMutexLocker lock(&m_keepNotes->mutex);
    // By switch (LED, suspension) and state asked for (off, on).
    m_keepNotes->text[0][0] =
        note(QStringLiteral("the LED setting"), AppSettings::Key::LedOff, true);
    m_keepNotes->text[0][1] =
        note(QStringLiteral("the LED setting"), AppSettings::Key::LedOff, false);
    m_keepNotes->text[1][0] =
        note(QStringLiteral("the resumption"), AppSettings::Key::TimerSuspended, false);
    m_keepNotes->text[1][1] =
        note(QStringLiteral("the suspension"), AppSettings::Key::TimerSuspended, true);
}

MetricsSnapshot Engine::snapshot() const
{
    MetricsSnapshot s;
    s.heartbeatsSent = quint64(m_heartbeat->heartbeatsSent());
    s.acksReceived = quint64(m_heartbeat->acksReceived());
    s.lastHeartbeatMsecs = m_heartbeat->lastHeartbeat();
    s.lastAckMsecs = m_heartbeat->lastAck();
    s.network = {m_heartbeat->networkCheck(), m_heartbeat->networkTarget(),
                 m_heartbeat->networkOk()};
    s.process = {m_heartbeat->processCheck() && !m_heartbeat->processName().isEmpty(),
                 m_heartbeat->processName(), m_heartbeat->processOk()};
    s.model = m_board->model();
    s.firmware = m_board->firmware();
    s.port = m_board->port();
    s.suspended = m_board->isSuspended();
    s.connected = m_board->isConnected();
    if (m_board->inputKind() == BoardProtocol::InputReading::Temperature)
        s.temperatureTenths = m_board->temperatureTenths();
    s.startMsecs = m_started;
    return s;
}

void Engine::publishMetrics()
{
    if (m_metrics->directory().isEmpty())
        return;
    m_metrics->update(snapshot(), QDateTime::currentMSecsSinceEpoch());
}

void Engine::configure()
{
    // Before the engine thread runs: direct calls are safe.
    m_board->setCompatibilityMode(m_settings->legacyMode());
    m_board->setCompatibilityT1(m_settings->legacyT1());
    m_board->setSwitchDefaults(!m_settings->ledOff(), m_settings->timerSuspended());
    m_board->setExtraPorts(m_settings->extraPorts());
    m_heartbeat->setNetworkCheck(m_settings->pingEnabled() && !m_settings->pingAddress().isEmpty());
    m_heartbeat->setNetworkTarget(m_settings->pingAddress());
    m_heartbeat->setPingTimeout(m_settings->pingTimeout());
    m_heartbeat->setProcessCheck(m_settings->processCheckEnabled());
    m_heartbeat->setProcessName(m_settings->processName());
    m_heartbeat->setProcessOwner(m_settings->processOwner());
    m_heartbeat->setLogNetwork(m_settings->logNetwork());
    m_heartbeat->setLogProcess(m_settings->logProcess());
    // Test hook: the end-to-end tests of the programs run the cycle faster
    // than the board's 3 s (see TOVEL3_CYCLE_MS in the README). It can only
    // shorten the period, so that nothing set in the environment holds a
    // heartbeat back, and not below a tenth of a second, which would flood
    // the board.
    bool set = false;
    const int cycle = qEnvironmentVariableIntValue("TOVEL3_CYCLE_MS", &set);
    if (set && cycle > 0 && cycle < Heartbeat::defaultInterval)
        m_heartbeat->setInterval(qMax(cycle, minimumTestCycleMs));
}

void Engine::followSettings()
{
    AppSettings *s = m_settings;
    Board *board = m_board;
    Heartbeat *heartbeat = m_heartbeat;
    // Each change is read on the settings' thread and applied on the
    // engine's.
    auto network = [s, heartbeat](auto) {
        const bool on = s->pingEnabled() && !s->pingAddress().isEmpty();
        const QString target = s->pingAddress();
        QMetaObject::invokeMethod(
            heartbeat,
            [heartbeat, on, target] {
                heartbeat->setNetworkTarget(target);
                heartbeat->setNetworkCheck(on);
            },
            Qt::QueuedConnection);
    };
    connect(s, &AppSettings::pingEnabledChanged, this, network);
    connect(s, &AppSettings::pingAddressChanged, this, network);

    auto later = [](QObject *target, auto call) {
        QMetaObject::invokeMethod(target, call, Qt::QueuedConnection);
    };
    connect(s, &AppSettings::pingTimeoutChanged, this,
            [=](int ms) { later(heartbeat, [=] { heartbeat->setPingTimeout(ms); }); });
    connect(s, &AppSettings::processCheckEnabledChanged, this,
            [=](bool on) { later(heartbeat, [=] { heartbeat->setProcessCheck(on); }); });
    connect(s, &AppSettings::processNameChanged, this, [=](const QString &name) {
        later(heartbeat, [=] { heartbeat->setProcessName(name); });
    });
    connect(s, &AppSettings::processOwnerChanged, this, [=](const QString &owner) {
        later(heartbeat, [=] { heartbeat->setProcessOwner(owner); });
    });
    connect(s, &AppSettings::logNetworkChanged, this,
            [=](bool on) { later(heartbeat, [=] { heartbeat->setLogNetwork(on); }); });
    connect(s, &AppSettings::logProcessChanged, this,
            [=](bool on) { later(heartbeat, [=] { heartbeat->setLogProcess(on); }); });
    MetricsWriter *metrics = m_metrics.get();
    connect(s, &AppSettings::metricsDirChanged, this, [=](const QString &dir) {
        later(heartbeat, [=] {
            metrics->removeFile();
            metrics->setDirectory(dir);
        });
    });
    // The journal follows its settings, whoever changes them (the page, a
    // reload of the service's file); it takes them from any thread.
    Journal *journal = m_journal;
    const auto applyToJournal = [s, journal] { s->applyToJournal(journal); };
    connect(s, &AppSettings::loggingEnabledChanged, this, applyToJournal);
    connect(s, &AppSettings::logSizeMbChanged, this, applyToJournal);
    connect(s, &AppSettings::logBackupsChanged, this, applyToJournal);
    connect(s, &AppSettings::legacyModeChanged, this,
            [=](bool on) { later(board, [=] { board->setCompatibilityMode(on); }); });
    connect(s, &AppSettings::legacyT1Changed, this,
            [=](int t1) { later(board, [=] { board->setCompatibilityT1(t1); }); });
    connect(s, &AppSettings::extraPortsChanged, this,
            [=](const QString &names) { later(board, [=] { board->setExtraPorts(names); }); });

    // The port the board settles on (chosen, restored or found again after a
    // move) is remembered for the next start once it opened.
    connect(m_board, &Board::portSelected, s, [s](const QString &port) {
        if (!port.isEmpty())
            s->setPort(port);
    });
}
