#include "monitor/heartbeat.h"

#include "device/board.h"
#include "logging.h"
#include "monitor/pingprocess.h"
#include "monitor/processwatcher.h"
#include "storage/journal.h"

#include <QDateTime>
#include <QDebug>
#include <QTimer>

Heartbeat::Heartbeat(Board *board, QObject *parent)
    : QObject(parent)
    , m_board(board)
    , m_ping(new PingProcess(this))
    , m_watcher(new ProcessWatcher(this))
    , m_timer(new QTimer(this))
    , m_lampTimer(new QTimer(this))
    , m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    qRegisterMetaType<Heartbeat::Lamp>("Heartbeat::Lamp");
    m_timer->setInterval(defaultInterval);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &Heartbeat::tick);
    m_lampTimer->setSingleShot(true);
    // A coarse timer may end up to 5 % early; the lamp keeps its half second.
    m_lampTimer->setTimerType(Qt::PreciseTimer);
    m_lampTimer->setInterval(lampHoldMs);
    connect(m_lampTimer, &QTimer::timeout, this, [this] { setLamp(Off); });
    connect(m_ping, &PingProcess::finished, this, &Heartbeat::probeFinished);

    if (m_board) {
        connect(m_board, &Board::heartbeatSent, this, &Heartbeat::sent);
        connect(m_board, &Board::acknowledged, this, &Heartbeat::acknowledged);
        connect(m_board, &Board::replyReceived, this, [this] {
            if (!m_lampTimer->isActive())
                m_lampTimer->start();
        });
        // Nothing else the board is asked restarts the period: a command
        // every few seconds would otherwise starve the board.
    }
}

Heartbeat::~Heartbeat() = default;

int Heartbeat::interval() const
{
    return m_timer->interval();
}

void Heartbeat::setInterval(int ms)
{
    m_timer->setInterval(ms);
}

void Heartbeat::setClock(std::function<qint64()> msecsSinceEpoch)
{
    m_clock = std::move(msecsSinceEpoch);
}

void Heartbeat::setJournal(Journal *journal)
{
    m_journal = journal;
}

void Heartbeat::setNetworkCheck(bool on)
{
    if (m_networkCheck == on)
        return;
    m_networkCheck = on;
    emit networkCheckChanged(on);
}

void Heartbeat::setNetworkTarget(const QString &target)
{
    if (m_networkTarget == target)
        return;
    m_networkTarget = target;
    emit networkTargetChanged(target);
}

int Heartbeat::pingTimeout() const
{
    return m_ping->timeout();
}

void Heartbeat::setPingTimeout(int ms)
{
    if (m_ping->timeout() == ms)
        return;
    m_ping->setTimeout(ms);
    emit pingTimeoutChanged(ms);
}

void Heartbeat::setProcessCheck(bool on)
{
    if (m_processCheck == on)
        return;
    m_processCheck = on;
    emit processCheckChanged(on);
}

void Heartbeat::setProcessName(const QString &name)
{
    if (m_processName == name)
        return;
    m_processName = name;
    emit processNameChanged(name);
}

QString Heartbeat::processOwner() const
{
    return m_watcher->owner();
}

void Heartbeat::setProcessOwner(const QString &owner)
{
    if (m_watcher->owner() == owner)
        return;
    m_watcher->setOwner(owner);
    emit processOwnerChanged(owner);
}

void Heartbeat::setLogNetwork(bool on)
{
    if (m_logNetwork == on)
        return;
    m_logNetwork = on;
    emit logNetworkChanged(on);
}

void Heartbeat::setLogProcess(bool on)
{
    if (m_logProcess == on)
        return;
    m_logProcess = on;
    emit logProcessChanged(on);
}

bool Heartbeat::isRunning() const
{
    return m_timer->isActive();
}

void Heartbeat::start()
{
    m_timer->start();
}

void Heartbeat::stop()
{
    m_timer->stop();
    m_probeCycle = -1;
}

void Heartbeat::tick()
{
    ++m_cycle;
    emit cycleChanged(m_cycle);
    if (m_networkCheck) {
        // The rest follows when the probe ends. A probe still running from
        // the last cycle is killed instead, and this cycle probes nothing.
        qCDebug(lcCycle).noquote().nospace() << "Ping " << m_networkTarget;
        m_probeCycle = m_cycle;
        m_ping->start(m_networkTarget);
    } else if (processCheckActive()) {
        if (checkProcess())
            feed();
    } else {
        qCDebug(lcCycle, "restart timer");
        feed();
    }
}

void Heartbeat::probeFinished()
{
    const int code = m_ping->exitCode();
    const bool ok = code == 0;
    pingTrouble(code);
    networkResult(ok);
    // Only the probe of this very cycle may allow a heartbeat: a late one of
    // an earlier cycle, one killed by the next start, or one that ends after
    // the check was switched off or the cycle stopped proves nothing now.
    if (!ok || m_probeCycle != m_cycle || !m_networkCheck)
        return;
    m_probeCycle = -1;
    if (processCheckActive() && !checkProcess())
        return;
    feed();
}

bool Heartbeat::processCheckActive() const
{
    return m_processCheck && !m_processName.isEmpty();
}

bool Heartbeat::checkProcess()
{
    const bool ok = m_watcher->check(m_processName) == 0;
    processResult(ok);
    return ok;
}

void Heartbeat::feed()
{
    if (m_heartbeatCycle == m_cycle)
        return;
    m_heartbeatCycle = m_cycle;
    setLamp(Sent);
    if (m_board)
        m_board->sendHeartbeat();
}

// Counted when written: one the board queues behind a command goes a moment
// later.
void Heartbeat::sent()
{
    ++m_heartbeatsSent;
    m_lastHeartbeat = m_clock();
    emit heartbeatsSentChanged(m_heartbeatsSent);
    emit lastHeartbeatChanged(m_lastHeartbeat);
}

void Heartbeat::acknowledged()
{
    setLamp(Acknowledged);
    ++m_acksReceived;
    m_lastAck = m_clock();
    emit acksReceivedChanged(m_acksReceived);
    emit lastAckChanged(m_lastAck);
}

void Heartbeat::networkResult(bool ok)
{
    if (ok == m_networkOk)
        return;
    m_networkOk = ok;
    if (m_logNetwork)
        journal(ok,
                (ok ? tr("Network access to %1 restored") : tr("Network address %1 is unreachable"))
                    .arg(m_networkTarget));
    emit networkOkChanged(ok);
}

// No reply is 1; the tool's own failures (no socket for lack of permission,
// a name that does not resolve) are 2 or more, and the killed run is 255.
// Such a failure is said once, with the tool's words, whatever the logging
// of network changes: "unreachable" alone would hide the cause.
void Heartbeat::pingTrouble(int code)
{
    QString trouble;
    if (code >= 2 && code != 255) {
        QStringList said;
        const QStringList lines = m_ping->output().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &line : lines)
            if (line.startsWith(QLatin1String("ping:")))
                said << line.trimmed();
        trouble =
            said.isEmpty() ? QStringLiteral("exit code %1").arg(code) : said.join(QLatin1Char(' '));
    }
    if (trouble == m_pingTrouble)
        return;
    m_pingTrouble = trouble;
    if (!trouble.isEmpty() && m_journal)
        m_journal->warn(
            QStringLiteral("Network check: ping %1 fails: %2").arg(m_networkTarget, trouble));
}

void Heartbeat::processResult(bool ok)
{
    if (ok == m_processOk)
        return;
    m_processOk = ok;
    if (m_logProcess)
        journal(ok,
                (ok ? tr("Process %1 is running normally") : tr("Process %1 died or is hanging"))
                    .arg(m_processName));
    emit processOkChanged(ok);
}

void Heartbeat::setLamp(Lamp lamp)
{
    if (m_lamp == lamp)
        return;
    m_lamp = lamp;
    emit lampChanged(lamp);
}

void Heartbeat::journal(bool good, const QString &text)
{
    if (!m_journal)
        return;
    // The journal is safe to write from this thread, and a blocked window
    // does not hold the entry back.
    if (good)
        m_journal->log(text);
    else
        m_journal->warn(text);
}
