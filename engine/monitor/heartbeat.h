#pragma once

#include <QObject>
#include <QString>

#include <functional>

class Board;
class Journal;
class PingProcess;
class ProcessWatcher;
class QTimer;

// The monitoring cycle. Every interval it judges the PC's health by the
// checks that are switched on (a ping of an address, then the liveness of a
// named process) and only when they pass feeds the board one heartbeat. It
// lives on the thread of its board; nothing here needs the GUI thread.
//
// Each cycle takes exactly one of three ways: a network probe (whose result,
// when it comes, may run the process check and then the heartbeat), else the
// process check at once, else the heartbeat at once. A cycle sends at most
// one heartbeat, and only a probe started by the current, running cycle can
// allow it.
class Heartbeat : public QObject
{
    Q_OBJECT
    // Configuration, set by the owner from the settings
    Q_PROPERTY(bool networkCheck READ networkCheck WRITE setNetworkCheck NOTIFY networkCheckChanged)
    Q_PROPERTY(
        QString networkTarget READ networkTarget WRITE setNetworkTarget NOTIFY networkTargetChanged)
    Q_PROPERTY(int pingTimeout READ pingTimeout WRITE setPingTimeout NOTIFY pingTimeoutChanged)
    Q_PROPERTY(bool processCheck READ processCheck WRITE setProcessCheck NOTIFY processCheckChanged)
    Q_PROPERTY(QString processName READ processName WRITE setProcessName NOTIFY processNameChanged)
    // Whose processes the process check counts (a user name or uid); empty:
    // this program's own user.
    Q_PROPERTY(
        QString processOwner READ processOwner WRITE setProcessOwner NOTIFY processOwnerChanged)
    Q_PROPERTY(bool logNetwork READ logNetwork WRITE setLogNetwork NOTIFY logNetworkChanged)
    Q_PROPERTY(bool logProcess READ logProcess WRITE setLogProcess NOTIFY logProcessChanged)
    // State
    Q_PROPERTY(Lamp lamp READ lamp NOTIFY lampChanged)
    Q_PROPERTY(bool networkOk READ networkOk NOTIFY networkOkChanged)
    Q_PROPERTY(bool processOk READ processOk NOTIFY processOkChanged)
    Q_PROPERTY(int heartbeatsSent READ heartbeatsSent NOTIFY heartbeatsSentChanged)
    Q_PROPERTY(int acksReceived READ acksReceived NOTIFY acksReceivedChanged)
    Q_PROPERTY(qint64 lastHeartbeat READ lastHeartbeat NOTIFY lastHeartbeatChanged)
    Q_PROPERTY(qint64 lastAck READ lastAck NOTIFY lastAckChanged)
    Q_PROPERTY(int cycle READ cycle NOTIFY cycleChanged)

public:
    // Off: dark; Sent: a heartbeat went out (or could not); Acknowledged:
    // the board answered "~A". The lamp goes dark half a second after a reply.
    enum Lamp { Off, Sent, Acknowledged };
    Q_ENUM(Lamp)

    static constexpr int defaultInterval = 3000;
    static constexpr int lampHoldMs = 500;

    explicit Heartbeat(Board *board, QObject *parent = nullptr);
    ~Heartbeat() override;

    int interval() const;
    void setInterval(int ms);
    // Where the timestamps come from (milliseconds since the epoch).
    void setClock(std::function<qint64()> msecsSinceEpoch);
    // May be null: then nothing is journaled.
    void setJournal(Journal *journal);

    bool networkCheck() const { return m_networkCheck; }
    void setNetworkCheck(bool on);
    QString networkTarget() const { return m_networkTarget; }
    void setNetworkTarget(const QString &target);
    int pingTimeout() const;
    void setPingTimeout(int ms);
    bool processCheck() const { return m_processCheck; }
    void setProcessCheck(bool on);
    QString processName() const { return m_processName; }
    void setProcessName(const QString &name);
    QString processOwner() const;
    void setProcessOwner(const QString &owner);
    bool logNetwork() const { return m_logNetwork; }
    void setLogNetwork(bool on);
    bool logProcess() const { return m_logProcess; }
    void setLogProcess(bool on);

    Lamp lamp() const { return m_lamp; }
    bool networkOk() const { return m_networkOk; }
    bool processOk() const { return m_processOk; }
    int heartbeatsSent() const { return m_heartbeatsSent; }
    int acksReceived() const { return m_acksReceived; }
    qint64 lastHeartbeat() const { return m_lastHeartbeat; }
    qint64 lastAck() const { return m_lastAck; }
    int cycle() const { return m_cycle; }
    bool isRunning() const;

public slots:
    // The first cycle comes one interval after start().
    void start();
    // A probe under way when the cycle stops can no longer allow a heartbeat.
    void stop();

signals:
    void networkCheckChanged(bool on);
    void networkTargetChanged(const QString &target);
    void pingTimeoutChanged(int ms);
    void processCheckChanged(bool on);
    void processNameChanged(const QString &name);
    void processOwnerChanged(const QString &owner);
    void logNetworkChanged(bool on);
    void logProcessChanged(bool on);
    void lampChanged(Heartbeat::Lamp lamp);
    void networkOkChanged(bool ok);
    void processOkChanged(bool ok);
    void heartbeatsSentChanged(int count);
    void acksReceivedChanged(int count);
    void lastHeartbeatChanged(qint64 msecs);
    void lastAckChanged(qint64 msecs);
    void cycleChanged(int cycle);

private:
    void tick();
    void probeFinished();
    bool processCheckActive() const;
    bool checkProcess();
    void feed();
    void sent();
    void acknowledged();
    void networkResult(bool ok);
    void pingTrouble(int exitCode);
    void processResult(bool ok);
    void setLamp(Lamp lamp);
    void journal(bool good, const QString &text);

    Board *m_board;
    Journal *m_journal = nullptr;
    PingProcess *m_ping;
    ProcessWatcher *m_watcher;
    QTimer *m_timer;
    QTimer *m_lampTimer;
    std::function<qint64()> m_clock;

    bool m_networkCheck = false;
    QString m_networkTarget;
    bool m_processCheck = false;
    QString m_processName;
    bool m_logNetwork = false;
    bool m_logProcess = false;

    Lamp m_lamp = Off;
    // Both start healthy, so the first failure is journaled and a first
    // success is not.
    bool m_networkOk = true;
    bool m_processOk = true;
    int m_heartbeatsSent = 0;
    int m_acksReceived = 0;
    qint64 m_lastHeartbeat = 0;
    qint64 m_lastAck = 0;

    QString m_pingTrouble; // the ping tool's own failure, said once

    int m_cycle = 0;
    int m_probeCycle = -1;     // the cycle whose probe may still allow a heartbeat
    int m_heartbeatCycle = -1; // the last cycle that fed the board
};
