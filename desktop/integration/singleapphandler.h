#pragma once

#include "service/instancedirectory.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QLockFile;
class QSharedMemory;
class QTimer;

// Makes sure only one instance of the application runs per user. The first
// instance keeps a marker and listens on a user-only local socket; later
// starts send it one line of text and exit. Every complete, non-empty line
// received is emitted as incomingMessage().
class SingleAppHandler : public QObject
{
    Q_OBJECT
public:
    explicit SingleAppHandler(QObject *parent = nullptr);
    ~SingleAppHandler() override;

    // Largest unfinished line kept for one client; a client that exceeds it
    // without sending a line feed is disconnected.
    static constexpr int maxPendingLine = 64 * 1024;
    // Clients served at once; further ones are turned away at once.
    static constexpr int maxClients = 16;
    // A client that sends no complete line for this long is disconnected.
    static constexpr int idleTimeoutMs = 5000;
    int idleTimeout() const { return m_idleTimeout; }
    void setIdleTimeout(int ms);

    // 64 lowercase hex digits of SHA-256 over the UTF-8 application name.
    static QString serverName();
    // Outside Windows, where the marker and the socket live (see
    // InstanceDirectory).
    static QString instanceDirectory() { return InstanceDirectory::path(); }
    // The marker outside Windows: a lock file in that directory.
    static QString lockFilePath();
    // The address the server listens on: a socket in that directory; on
    // Windows the digest itself.
    static QString serverAddress();

    bool claimInstance();
    void sendMessage(const QString &msg);

signals:
    void incomingMessage(const QString &msg);

private slots:
    void processConnection();
    void processDisconnected();
    void clientReadyRead();

private:
    struct Client {
        QByteArray pending;  // received, not yet a complete line
        QElapsedTimer quiet; // since the last complete line
    };

    // The platform's half (singleapphandler_<system>.cpp, with
    // instanceDirectory() and serverAddress()): takes the marker; false when
    // another instance holds it. `address` is where the server listens, left
    // empty when no marker can be kept and the program runs unguarded.
    bool claimMarker(QString *address);
    // Emits the client's complete lines that have arrived; false when a
    // receiver of them deleted this handler.
    bool takeLines(QLocalSocket *socket);
    void dropClient(QLocalSocket *socket);
    void dropIdleClients();

    QObject *m_application;
    QSharedMemory *m_sharedMemory = nullptr;
    QLockFile *m_lockFile = nullptr;
    QLocalServer *m_server = nullptr;
    QTimer *m_idleCheck = nullptr;
    int m_idleTimeout = idleTimeoutMs;
    bool m_refusing = false;
    QHash<QLocalSocket *, Client> m_clients;
};
