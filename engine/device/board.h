#pragma once

#include "device/boardprotocol.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

class Journal;
class QTimer;
class SerialChannel;

Q_DECLARE_METATYPE(BoardProtocol::BoardSettings)

// The watchdog board on its serial port: sends the commands, frames and
// interprets the replies, identifies the board and keeps its state.
//
// The port is opened once and held, only ours while it is open; after the
// device failed (unplugged) it is opened again by the next heartbeat or
// command. Replies are framed at "\n": split and merged replies both work.
//
// One exchange at a time: a command, heartbeat or identification is written
// when the one before it has its answers (a reply of the same letter for each
// command in it; "~A" for "~U", "~F" for "~W"), or after ExchangeTimeoutMs. A
// heartbeat goes next after the exchange under way, before anything queued,
// so commands delay it by one exchange at most. What the board reports (the
// LED, the suspension, the channels) is its state; a command only asks.
//
// Identification: the port's opening asks "~I" (nothing that would feed the
// board), asked once more when no identity came. The first acknowledged
// heartbeat after an opening brings the LED and suspension back with
// "~L l ~P p": "~P" restarts the board's clock like a heartbeat, so it never
// follows an acknowledgement the checks did not allow. A board is announced
// in the journal once per start or port change.
//
// A board unplugged and back under another name is followed only when that
// name is known to be the same board: its stable link in /dev/serial/by-id
// (vendor, model and USB serial number), or the same USB serial number. No
// other device is ever written to, and the chosen port stays the one to save.
class Board : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString port READ port NOTIFY portChanged)
    Q_PROPERTY(QStringList ports READ ports NOTIFY portsChanged)
    Q_PROPERTY(bool connected READ isConnected NOTIFY connectedChanged)
    Q_PROPERTY(QString modelLetter READ modelLetter NOTIFY identityChanged)
    Q_PROPERTY(QString model READ model NOTIFY identityChanged)
    Q_PROPERTY(QString firmware READ firmware NOTIFY identityChanged)
    Q_PROPERTY(int channels READ channels NOTIFY identityChanged)
    Q_PROPERTY(bool hasInput READ hasInput NOTIFY identityChanged)
    Q_PROPERTY(bool hasPowerOutput READ hasPowerOutput NOTIFY identityChanged)
    Q_PROPERTY(bool led READ led NOTIFY ledChanged)
    Q_PROPERTY(bool suspended READ isSuspended NOTIFY suspendedChanged)
    Q_PROPERTY(bool channel1Closed READ channel1Closed NOTIFY channelStateChanged)
    Q_PROPERTY(bool channel2Closed READ channel2Closed NOTIFY channelStateChanged)
    Q_PROPERTY(int inputKind READ inputKind NOTIFY inputChanged)
    Q_PROPERTY(QString inputLevel READ inputLevel NOTIFY inputChanged)
    Q_PROPERTY(int temperatureTenths READ temperatureTenths NOTIFY inputChanged)
    Q_PROPERTY(int settingsForm READ settingsForm NOTIFY settingsChanged)
    Q_PROPERTY(QVariantList settingsValues READ settingsValues NOTIFY settingsChanged)
    Q_PROPERTY(bool compatibilityMode READ compatibilityMode WRITE setCompatibilityMode NOTIFY
                   compatibilityModeChanged)
    Q_PROPERTY(int compatibilityT1 READ compatibilityT1 WRITE setCompatibilityT1 NOTIFY
                   compatibilityT1Changed)
    Q_PROPERTY(bool writePending READ writePending NOTIFY writePendingChanged)
    // The model as the window names it: in compatibility mode the older
    // board, which identifies itself like the one-channel model.
    Q_PROPERTY(QString displayModel READ displayModel NOTIFY identityChanged)
    // The highest reset time (minutes) that compatibility mode can send.
    Q_PROPERTY(int compatibilityT1Max READ compatibilityT1Max NOTIFY compatibilityModeChanged)
    // The last settings read ("~F") got no reply within the write timeout.
    Q_PROPERTY(bool settingsUnanswered READ settingsUnanswered NOTIFY settingsUnansweredChanged)
    // False from a heartbeat that went unacknowledged (or a port that did not
    // open) until the next acknowledgement: what was read of the board is
    // not current then.
    Q_PROPERTY(bool answering READ isAnswering NOTIFY answeringChanged)

public:
    static constexpr int WriteTimeoutMs = 800;
    static constexpr int QuietTimeMs = 150;       // an unterminated reply counts after this
    static constexpr int ExchangeTimeoutMs = 500; // longest wait for an answer before the next
    static constexpr int MaxQueued = 16;          // commands waiting for their turn
    static constexpr int RescanIntervalMs = 10000;

    explicit Board(Journal *journal = nullptr, QObject *parent = nullptr);
    ~Board() override;

    void setJournal(Journal *journal) { m_journal = journal; }

    QString port() const { return m_port; }
    QStringList ports() const { return m_ports; }
    bool isConnected() const;
    // The port is open: commands reach the board, identified or not.
    bool isPortOpen() const;
    QString modelLetter() const { return m_letter; }
    // The identified model, nullptr while none.
    const BoardProtocol::BoardModel *boardModel() const;
    QString model() const;
    QString firmware() const { return m_firmware; }
    int channels() const { return m_channels; }
    bool hasInput() const;
    bool hasPowerOutput() const;
    bool led() const { return m_led; }
    bool isSuspended() const { return m_suspended; }
    bool channel1Closed() const { return m_channelClosed[0]; }
    bool channel2Closed() const { return m_channelClosed[1]; }
    BoardProtocol::InputReading input() const { return m_input; }
    int inputKind() const { return m_input.kind; }
    QString inputLevel() const;
    int temperatureTenths() const { return m_input.tenths; }
    BoardProtocol::BoardSettings settings() const { return m_settings; }
    int settingsForm() const { return m_settings.form; }
    QVariantList settingsValues() const;
    bool compatibilityMode() const { return m_compatibility; }
    void setCompatibilityMode(bool on);
    int compatibilityT1() const { return m_compatibilityT1; }
    void setCompatibilityT1(int t1);
    bool writePending() const { return m_writePending; }
    QString displayModel() const;
    static int compatibilityT1Max();
    bool settingsUnanswered() const { return m_settingsUnanswered; }
    bool isAnswering() const { return m_answering; }

    // The LED and suspension state restored from the settings at start-up,
    // without sending anything (the handshake sends them).
    void setSwitchDefaults(bool led, bool suspended);

    int writeTimeout() const;
    // Tests shorten it.
    void setWriteTimeout(int ms);

    // The stable name of a port: the link in `byIdDir` that points at the
    // same device, otherwise the name as given.
    static QString stablePortName(const QString &name,
                                  const QString &byIdDir = QStringLiteral("/dev/serial/by-id"));
    // Where stable links are looked for (tests use their own directory).
    void setByIdDirectory(const QString &dir) { m_byIdDir = dir; }
    // Ports offered besides the boards found by their vendor id (the
    // setting "extraports": names separated by commas).
    void setExtraPorts(const QString &names);

signals:
    void portChanged(const QString &port);
    void portsChanged();
    void connectedChanged(bool connected);
    void identityChanged();
    void ledChanged(bool on);
    void suspendedChanged(bool on);
    void channelStateChanged();
    void inputChanged();
    void settingsChanged();
    void compatibilityModeChanged(bool on);
    void compatibilityT1Changed(int t1);
    void writePendingChanged(bool pending);
    void settingsUnansweredChanged(bool unanswered);
    void answeringChanged(bool answering);

    void acknowledged();  // an "~A"
    void heartbeatSent(); // a heartbeat was written
    void replyReceived(); // once per received chunk
    // Every "~L" / "~P" reply, also one that changes nothing.
    void ledReported(bool on);
    void suspendReported(bool on);
    // The board's reply to a setLed() / setSuspended() command that asked
    // for just this state: what the owner keeps. A handshake, a contradicting
    // reply or one nobody asked for confirms nothing.
    void ledConfirmed(bool on);
    void suspendConfirmed(bool on);
    void settingsRead(const BoardProtocol::BoardSettings &settings);
    // The board answered a write with its settings, or did not within the
    // write timeout (800 ms): how long that is shown is the window's affair.
    void writeConfirmed();
    void writeFailed();
    void commandSent(const QByteArray &command); // written to the port
    void portOpenFailed(const QString &port);
    // A port change opened its port: the name to save.
    void portSelected(const QString &port);
    // The board was found under another name (not saved: the chosen port
    // stays the one to look at first).
    void boardMoved(const QString &from, const QString &to);

public slots:
    // Start-up: the saved port, listed or not (another device is no
    // substitute for it); without one the first port listed. While no port
    // is listed, a rescan every RescanIntervalMs.
    void restorePort(const QString &saved);
    void setPort(const QString &name);
    // Lists the ports again; takes the first only while none is chosen.
    void scan();
    // The heartbeat of one cycle: true when it was written, or will be as
    // soon as the exchange under way ends (heartbeatSent() tells).
    bool sendHeartbeat();
    // Commands: true when written or queued, false when the port cannot be
    // opened (or the queue is full). The state follows the board's reply.
    bool setLed(bool on);
    bool setSuspended(bool on);
    bool setChannel(int n, bool closed);
    bool testReset();
    bool testPower();
    bool remoteReset();
    bool remotePower();
    bool readSettings();
    bool writeSettings(const BoardProtocol::BoardSettings &settings);
    bool firmwareUpdate();

private:
    struct Exchange {
        enum Kind { Heartbeat, Identify, Handshake, Command };
        Kind kind;
        QByteArray bytes; // the heartbeat's and the handshake's are made when written
    };

    bool command(const QByteArray &bytes);
    bool ensureOpen();
    bool openPort(bool portChange);
    void dropPort();
    bool submit(const Exchange &exchange);
    bool write(const Exchange &exchange);
    void writeQueued();
    void exchangeEnded();
    QByteArray awaitedReplies(const QByteArray &bytes) const;
    QString portIdentity(const QString &name) const;
    QString findBoard() const;
    void onData(const QString &data);
    void onQuiet();
    void received(const QByteArray &piece);
    void handle(const QByteArray &piece);
    void handleAck();
    void handleIdentity(const BoardProtocol::BoardIdentity &identity);
    void handleSettings(const BoardProtocol::BoardSettings &settings);
    void handleChannel(int n, bool closed);
    void onWriteTimer();
    void setWritePending(bool pending);
    void setSettingsUnanswered(bool unanswered);
    void setAnswering(bool answering);
    void setLetter(const QString &letter);
    void clearIdentity();
    void setInput(const BoardProtocol::InputReading &input);
    void log(const char *text, const QString &arg = QString());
    QStringList listPorts() const;

    Journal *m_journal;
    SerialChannel *m_channel;
    BoardProtocol::ReplyFramer m_framer;
    QTimer *m_quietTimer;
    QTimer *m_writeTimer;
    QTimer *m_readTimer; // a settings read waiting for its reply
    QTimer *m_rescanTimer;
    QTimer *m_exchangeTimer;
    QString m_byIdDir = QStringLiteral("/dev/serial/by-id");

    QString m_port;   // in use: the chosen one, or where the board moved to
    QString m_chosen; // chosen by the user, restored or configured
    // What tells the board from any other device (see portIdentity());
    // empty while unknown, and then no other port is ever taken for it.
    QString m_identity;
    QStringList m_ports;
    QString m_letter;
    QString m_firmware;
    int m_channels = 0;
    // The last model identified: its buttons stay usable while the board is
    // away.
    const BoardProtocol::BoardModel *m_lastModel = nullptr;
    QString m_announced;             // letter journaled as connected since start or port change
    bool m_handshakeDue = false;     // since the port opened, no handshake yet
    bool m_heartbeatPending = false; // a heartbeat was written and no "~A" came since
    int m_identifyAsks = 0;          // "~I" asked since the port opened

    QList<Exchange> m_queue;
    Exchange::Kind m_current = Exchange::Command; // the last exchange written
    // The letters of the replies the exchange under way still waits for;
    // empty when none is under way.
    QByteArray m_awaited;

    bool m_led = true;
    bool m_suspended = false;
    // The state the last written "~L" / "~P" command asked for, until the
    // board's reply: -1 when none is awaited.
    int m_ledAsked = -1;
    int m_suspendAsked = -1;
    bool m_channelClosed[2] = {false, false};
    BoardProtocol::InputReading m_input;
    BoardProtocol::BoardSettings m_settings;
    bool m_compatibility = false;
    int m_compatibilityT1 = 5;
    bool m_writePending = false;
    bool m_settingsUnanswered = false;
    bool m_answering = true;
};
