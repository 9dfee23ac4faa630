#pragma once

#include "control/controlcommands.h"
#include "device/boardprotocol.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

class Board;
class ControlConnection;
class Heartbeat;
class QTimer;

// The control socket of a running watchdog (tovel3ctl talks to it): status,
// suspend and resume, the LED, the board's parameters, and the two tests.
// One JSON request per line, one JSON reply line (see ControlProtocol).
//
// Lives on the thread of its board and cycle and calls them directly. A
// client costs the service next to nothing: lines and connections are
// bounded, an idle client is dropped, anything that is not a request is
// answered with an error and the connection closed, and only one command
// talks to the board at a time (others are refused as busy). Values the
// connected model does not offer are refused before anything is sent. A
// switch (LED, suspension) succeeds, and is stored, only when the board
// reports the state asked for.
//
// The system's half (controlserver_<system>.cpp) listens and accepts: a Unix-domain socket of our
// own (the service needs no QtNetwork), or a named pipe through QLocalServer on Windows.
class ControlServer : public QObject
{
    Q_OBJECT
public:
    // Who may connect: the process's user alone (0600), or also the members
    // of a group (0660).
    enum Access { UserOnly, Group };

    static constexpr int MaxConnections = 8;
    static constexpr int DefaultIdleTimeoutMs = 10000;
    // Longest wait for the board's answer to a command
    static constexpr int BoardTimeoutMs = 2000;

    ControlServer(Board *board, Heartbeat *heartbeat, QObject *parent = nullptr);
    ~ControlServer() override;

    // Listens on `path`. With Group access the socket belongs to `group`, or
    // to the process's group when it is empty. The socket appears with its
    // final owner and mode already set. A socket file left by a dead instance
    // is replaced; one that still answers is not (false).
    bool listen(const QString &path, Access access = UserOnly, const QString &group = QString());
    void close();
    QString socketPath() const { return m_path; }
    QString errorString() const { return m_error; }
    int connectionCount() const { return m_clients.size(); }
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }
    // What a switch done for a client leaves after a restart: the text is
    // added to the reply as its "note" when not empty (the owner cannot keep
    // the setting). Called on this object's thread.
    void setKeepNote(std::function<QString(bool led, bool on)> note)
    {
        m_keepNote = std::move(note);
    }

signals:
    // A client wrote the reset time in compatibility mode: the owner stores
    // it as the pages do. (The LED and the suspension the board confirms are
    // kept by the engine from the board's own signals.)
    void compatibilityT1Set(int t1);

private:
    struct Client {
        QByteArray buffer;
        QTimer *idle = nullptr;
        bool busy = false; // a request is being answered
    };
    // The one command talking to the board.
    struct Operation {
        enum Step { None, Switch, Read, ReadForWrite, Write };
        Step step = None;
        QPointer<ControlConnection> client;
        bool led = false;                 // Switch: the LED rather than the suspension
        bool on = false;                  // Switch: the state asked for
        QByteArray command;               // Switch: what asks for it
        bool written = false;             // Switch: the command reached the port
        QVector<QPair<int, int>> changes; // field, choice index
        BoardProtocol::BoardSettings target;
    };

    // The platform's half: takes the waiting connections to addClient().
    void acceptConnections();
    // The platform's half: stops listening and removes our socket.
    void closeListener();
    void addClient(ControlConnection *connection);
    void readClient(ControlConnection *socket);
    void dropClient(ControlConnection *socket);
    void handle(ControlConnection *socket, const QJsonObject &request);
    void reply(ControlConnection *socket, const QJsonObject &message);
    // A refusal; the connection stays.
    void fail(ControlConnection *socket, const QString &error);
    // Not a request: answered, then the connection is closed.
    void reject(ControlConnection *socket, const QString &error);

    QJsonObject status() const;
    QString boardMissing() const;
    const BoardProtocol::BoardModel *settingsModel() const;
    QJsonObject boardReply(const BoardProtocol::BoardSettings &settings) const;

    // The handlers of the commands' table.
    friend const std::vector<ControlCommand> &ControlCommands::all();
    void answerStatus(ControlConnection *socket, const QJsonObject &request);
    void answerSuspend(ControlConnection *socket, const QJsonObject &request);
    void answerResume(ControlConnection *socket, const QJsonObject &request);
    void answerLed(ControlConnection *socket, const QJsonObject &request);
    void answerBoard(ControlConnection *socket, const QJsonObject &request);
    void answerBoardSet(ControlConnection *socket, const QJsonObject &request);
    void answerTestReset(ControlConnection *socket, const QJsonObject &request);
    void answerTestPower(ControlConnection *socket, const QJsonObject &request);

    void setSwitch(ControlConnection *socket, bool led, bool on);
    void readBoard(ControlConnection *socket);
    void writeBoard(ControlConnection *socket, const QJsonObject &request);
    void test(ControlConnection *socket, const QJsonObject &request, bool power);
    bool begin(ControlConnection *socket, Operation::Step step);
    void finish(const QJsonObject &message);
    QJsonObject cannotWrite() const;

    void onSwitchReported(bool led, bool on);
    void onSettingsRead(const BoardProtocol::BoardSettings &settings);
    void onWriteConfirmed();
    void onWriteFailed();
    void onTimeout();

    Board *m_board;
    Heartbeat *m_heartbeat;
    QString m_path;
    // The system's half: what listens (a child of this object), while it does.
    struct Listener;
    Listener *m_listener = nullptr;
    QString m_error;
    int m_idleTimeoutMs = DefaultIdleTimeoutMs;
    QHash<ControlConnection *, Client> m_clients;
    Operation m_operation;
    QTimer *m_operationTimer;
    std::function<QString(bool, bool)> m_keepNote;
};
