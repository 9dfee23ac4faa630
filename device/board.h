#pragma once

#include "boardprotocol.h"

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
// The port is opened for every exchange (opening closes first, so a reply
// still outstanding from the previous exchange is lost). Replies are framed
// at "\n": split and merged replies both work.
//
// Identification: the handshake "~L l ~P p ~I" answers only the
// acknowledgement of a heartbeat sent by sendHeartbeat() that is not yet
// answered and with no other command since: "~P" restarts the board's clock
// like a heartbeat, so it must not follow an acknowledgement the checks did
// not allow. A board is announced in the journal once per start or port
// change; a re-identification after a lost board ("upd") writes nothing.
//
// Port moves: a board unplugged and back under another name is found again.
// After FailureBound consecutive failed heartbeats (port not opening, or no
// acknowledgement before the next one), the candidate ports are asked "~I"
// one by one (only "~I": an unidentified port never gets "~U" or "~P") and
// the board moves to the first that identifies itself.
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
    Q_PROPERTY(int writeResult READ writeResult NOTIFY writeResultChanged)
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
    // What the Write button shows: Idle "Write"; Ok for 800 ms (the write
    // timeout) after a confirmed write; Failed from 800 ms after an
    // unconfirmed write, for 800 ms.
    enum WriteResult { WriteIdle, WriteOk, WriteFailed };
    Q_ENUM(WriteResult)

    static constexpr int WriteTimeoutMs = 800;
    static constexpr int QuietTimeMs = 150;    // an unterminated reply counts after this
    static constexpr int FailureBound = 3;     // failed heartbeats before the ports are searched
    static constexpr int ProbeTimeoutMs = 400; // wait for "~I" from a candidate port
    static constexpr int RescanIntervalMs = 10000;

    explicit Board(Journal *journal = nullptr, QObject *parent = nullptr);
    ~Board() override;

    void setJournal(Journal *journal) { m_journal = journal; }

    QString port() const { return m_port; }
    QStringList ports() const { return m_ports; }
    bool isConnected() const;
    QString modelLetter() const { return m_letter; }
    // The identified model, nullptr while none (also during "upd").
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
    int writeResult() const { return m_writeResult; }
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
    void writeResultChanged(int result);
    void settingsUnansweredChanged(bool unanswered);
    void answeringChanged(bool answering);

    void acknowledged();  // an "~A"
    void replyReceived(); // once per received chunk
    void settingsRead(const BoardProtocol::BoardSettings &settings);
    void writeConfirmed();
    void writeFailed();
    void commandSent(const QByteArray &command);
    void exchangeStarted(); // every command and port change; not the heartbeat
    void portOpenFailed(const QString &port);
    // A port change opened its port, or the board was found on another
    // port: the name to save.
    void portSelected(const QString &port);
    void boardMoved(const QString &from, const QString &to);

public slots:
    // Start-up: the saved port when it is listed, otherwise the first one;
    // with no port at all a rescan every RescanIntervalMs until one appears.
    void restorePort(const QString &saved);
    void setPort(const QString &name);
    void scan();
    // The heartbeat of one cycle: true when it was written.
    bool sendHeartbeat();
    void setLed(bool on);
    void setSuspended(bool on);
    void setChannel(int n, bool closed);
    void testReset();
    void testPower();
    void remoteReset();
    void remotePower();
    void readSettings();
    void writeSettings(const BoardProtocol::BoardSettings &settings);
    void firmwareUpdate();

private:
    void command(const QByteArray &bytes);
    bool reopen();
    void onData(const QString &data);
    void onQuiet();
    void handle(const QByteArray &piece);
    void handleAck();
    void handleIdentity(const BoardProtocol::BoardIdentity &identity);
    void handleSettings(const BoardProtocol::BoardSettings &settings);
    void handleChannel(int n, bool closed);
    void onWriteTimer();
    void setWritePending(bool pending);
    void setWriteResult(WriteResult result);
    void setSettingsUnanswered(bool unanswered);
    void setAnswering(bool answering);
    void setLetter(const QString &letter);
    void clearIdentity();
    void setInput(const BoardProtocol::InputReading &input);
    void log(const char *text, const QString &arg = QString());
    QStringList listPorts() const;
    void heartbeatFailed();
    void startSearch();
    void probeNext();
    void probeReply(const QByteArray &piece);
    void finishSearch(QString found);
    void stopSearch();

    Journal *m_journal;
    SerialChannel *m_channel;
    BoardProtocol::ReplyFramer m_framer;
    QTimer *m_quietTimer;
    QTimer *m_writeTimer;
    QTimer *m_readTimer; // a settings read waiting for its reply
    QTimer *m_rescanTimer;
    QTimer *m_probeTimer;
    QString m_byIdDir = QStringLiteral("/dev/serial/by-id");

    QString m_port;
    QStringList m_ports;
    QString m_letter;
    QString m_firmware;
    int m_channels = 0;
    // The last model identified: its buttons stay usable while the board is
    // away, and a port search prefers a board of this model.
    const BoardProtocol::BoardModel *m_lastModel = nullptr;
    QString m_announced; // letter journaled as connected since start or port change
    bool m_firstAck = true;
    bool m_heartbeatPending = false; // sent by sendHeartbeat, not answered, no command since
    bool m_awaitingAck = false;      // a heartbeat went out and no "~A" came since
    int m_failures = 0;              // consecutive failed heartbeats
    bool m_led = true;
    bool m_suspended = false;
    bool m_channelClosed[2] = {false, false};
    BoardProtocol::InputReading m_input;
    BoardProtocol::BoardSettings m_settings;
    bool m_compatibility = false;
    int m_compatibilityT1 = 5;
    bool m_writePending = false;
    WriteResult m_writeResult = WriteIdle;
    bool m_settingsUnanswered = false;
    bool m_answering = true;

    // Port search
    QStringList m_candidates;
    QString m_probing;  // port asked "~I" just now; empty when not searching
    QString m_fallback; // a port whose board is of another model
};
