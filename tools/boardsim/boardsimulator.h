#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

class QSocketNotifier;
class QTimer;

// A USB watchdog board on a Linux pseudo-terminal, for tests and for trying
// the application without hardware. Open portPath() with any serial library.
//
// Commands arrive as a byte stream without terminators ("~U~G" and
// "~L1~P0~I" may come in one write, a command may be split across writes).
// Bytes outside a command ("\r", "\n", noise) are skipped; a "~" inside an
// unfinished command ends it; an unfinished command is handled 500 ms after
// its last byte. Every reply ends with "\n"; the replies to the commands of
// one incoming chunk leave in one write. Replies are dropped (as a real USB
// port does) while nobody has the port open.
//
// Replies (vvv = firmwareVersion(), t = typeLetter()):
//   "~U"          -> "~A"             feeds the watchdog clock (all models)
//   "~L0"/"~L1"   -> "~L0"/"~L1"      green LED (all models)
//   "~P0"/"~P1"   -> "~P0"/"~P1"      clock running / suspended (all models)
//   "~I"          -> "~I" vvv t       X2: t "U"; S2 and LegacyS: t "L"
//   "~G"          -> X2 only, by the IN-channel function (settings field 9):
//                    OFF "~GF000"; INPUT "~GI00" + 0|1; OUTPUT "~GO00" + 0|1;
//                    TEMP tenths of a degree as 4 characters ("0235",
//                    "-055"), or "~GE000" when temperature() is NaN
//   "~F"          -> X2 "~F" + 11 settings characters; S2 "~F" + 2; LegacyS none
//   "~W" + body   -> X2: 11 hex characters; S2: 2 hex digits; the settings are
//                    stored and answered like "~F". LegacyS: "~W" d "\n" sets
//                    t1 = d, no reply. A body of another form is ignored.
//   "~S"n / "~R"n -> echoed; closes / opens output channel n (X2: 1 or 2,
//                    S2 and LegacyS: 1 only; others ignored)
//   "~T1"/"~T2"   -> echoed (test reset / test power, all models)
//   "~M1"/"~M2"   -> echoed (remote reset / power, X2 only)
//   "~D"          -> no reply; firmware-update mode: the board answers
//                    nothing more and its clock stops until the next plug()
//   anything else -> recorded, no reply
//
// Settings body for X2, one character each: t1 t2 t3 t4 t5 p6 p7 p8 p9 as one
// hex digit, then p10 as two hex digits. Default "52425120346". S2: t1 t2,
// default "52". LegacyS: t1, default "5".
//
// Watchdog clock: armed on plug(), restarted by every "~U" and by "~P0" or a
// new t1; stopped by "~P1", unplug() and t1 = 0. When it runs out the board
// "presses reset": resetCount() grows, resetFired() is emitted and the clock
// starts again. With X2 a non-zero reset limit (p8) stops it after that many
// resets without a heartbeat in between.
class BoardSimulator : public QObject
{
    Q_OBJECT
public:
    enum Model { X2, S2, LegacyS };
    Q_ENUM(Model)

    struct Command {
        qint64 msecs;    // arrival time, milliseconds since the Unix epoch
        QByteArray text; // the command as received, e.g. "~L1" or "~W5\n"
    };

    explicit BoardSimulator(Model model = X2, QObject *parent = nullptr);
    ~BoardSimulator() override; // unplugs and removes the link

    // Creates the PTY and the symbolic link linkPath -> PTY slave. An empty
    // linkPath picks a fresh path in the temp directory. An existing symbolic
    // link is replaced; any other existing file makes start() fail.
    bool start(const QString &linkPath = QString());
    QString portPath() const;  // the stable link; survives unplug()/plug()
    QString slavePath() const; // the current /dev/pts/N, empty when unplugged

    // Closes the PTY master: an open port sees a dead device, and the link
    // leads nowhere ("/dev/null/tovel3-board-unplugged") until plug().
    void unplug();
    bool plug(); // a fresh PTY; the link is re-pointed at it
    bool isPlugged() const;
    // How the opener set the line up, as "<baud> <bits><parity><stop bits>"
    // ("9600 8N1"); empty when unplugged.
    QString lineSettings() const;

    Model model() const { return m_model; }
    char typeLetter() const; // 'U' for X2, 'L' for S2 and LegacyS

    // Behaviour
    void setTimeScale(double secondsPerMinute); // default 60
    double timeScale() const { return m_secondsPerMinute; }
    void setSilent(bool silent);              // still records and keeps state, never answers
    void setReplyDelay(int msecs);            // answers this much later
    void setSplitReplies(bool split);         // each reply write as two writes 100 ms apart
    void setGarbage(const QByteArray &bytes); // written before every reply
    void sendRaw(const QByteArray &bytes);    // written now, as is (dropped if unplugged)

    // Received commands
    QVector<Command> received() const { return m_received; }
    QList<QByteArray> receivedTexts() const; // just the texts, in order
    void clearReceived() { m_received.clear(); }

    // Board state
    bool led() const { return m_led; }
    bool suspended() const { return m_suspended; }
    bool channel(int n) const; // true = closed (after "~S"n)
    QByteArray settings() const { return m_settings; }
    bool setSettings(const QByteArray &body); // same form as the "~W" body
    int t1() const;                           // minutes
    QByteArray firmwareVersion() const { return m_version; }
    void setFirmwareVersion(const QByteArray &threeChars);
    bool input() const { return m_input; }
    void setInput(bool high); // IN/OUT state for "~G"
    double temperature() const { return m_temperature; }
    void setTemperature(double celsius); // NaN = sensor missing
    bool firmwareUpdateMode() const { return m_updateMode; }
    int resetCount() const { return m_resets; }
    bool clockRunning() const; // the watchdog clock counts down

signals:
    void commandReceived(const QByteArray &command);
    void replySent(const QByteArray &bytes); // bytes that really reached the port
    void resetFired();                       // the watchdog clock ran out
    void pluggedChanged(bool plugged);

private:
    // Takes in what the master holds; false once the last opener has closed
    // the slave.
    bool readMaster();
    void onMasterReadable();
    void pollForOpener();
    void feed(const QByteArray &bytes, qint64 when);
    void finishCommand();
    QByteArray handle(const QByteArray &cmd);
    void deliver(const QByteArray &replies);
    void writeNow(const QByteArray &bytes);
    bool openerPresent() const;
    int argumentLength(char letter) const;
    void restartClock();
    void clockExpired();
    QByteArray inputReading() const;
    bool pointLink(const QString &target);

    Model m_model;
    QString m_link;
    QString m_ownLinkDir;
    QString m_slave;
    int m_master = -1;
    quint64 m_generation = 0; // bumps on every plug/unplug; stale timers check it
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_openerPoll;
    QTimer *m_partialTimer;
    QTimer *m_clock;
    QByteArray m_pending;
    qint64 m_pendingSince = 0;

    double m_secondsPerMinute = 60.0;
    bool m_silent = false;
    int m_delay = 0;
    bool m_split = false;
    QByteArray m_garbage;

    QVector<Command> m_received;
    bool m_led = true;
    bool m_suspended = false;
    bool m_channels[2] = {false, false};
    QByteArray m_settings;
    QByteArray m_version;
    bool m_input = false;
    double m_temperature = 23.5;
    bool m_updateMode = false;
    int m_resets = 0;
    int m_resetsSinceFeed = 0;
};
