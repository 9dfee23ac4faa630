#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QLockFile;
class QSharedMemory;

// Makes sure only one instance of the application runs. The first instance
// keeps a marker and listens on a user-only local socket; later starts send it
// one line of text and exit. Every complete, non-empty line received is
// emitted as incomingMessage().
class SingleAppHandler : public QObject
{
    Q_OBJECT
public:
    explicit SingleAppHandler(QObject *parent = nullptr);
    ~SingleAppHandler() override;

    // Largest unfinished line kept for one client; a client that exceeds it
    // without sending a line feed is disconnected.
    static constexpr int maxPendingLine = 64 * 1024;

    // 64 lowercase hex digits of SHA-256 over the UTF-8 application name.
    static QString serverName();
    // Where the instance marker lives outside Windows: a lock file in the
    // user's runtime directory (the temporary directory when there is none).
    static QString lockFilePath();
    // The address the server listens on. Outside Windows it is the digest as
    // a file name in the user's runtime directory: in the shared temporary
    // directory the first user's socket would lock every other user out.
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
    void dropClient(QLocalSocket *socket);

    QObject *m_application;
    QSharedMemory *m_sharedMemory = nullptr;
    QLockFile *m_lockFile = nullptr;
    QLocalServer *m_server = nullptr;
    QHash<QLocalSocket *, QByteArray> m_clients;
};
