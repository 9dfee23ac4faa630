#include "singleapphandler.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QSystemSemaphore>

SingleAppHandler::SingleAppHandler(QObject *parent)
    : QObject(parent)
    , application(parent)
{
}

SingleAppHandler::~SingleAppHandler()
{
    if (server) {
        const auto sockets = clients.keys();
        for (QLocalSocket *socket : sockets) {
            socket->close();
            socket->deleteLater();
        }
        clients.clear();
        server->close();
        delete server;
        server = nullptr;
    }
    if (sharedMemory) {
        sharedMemory->detach();
        delete sharedMemory;
        sharedMemory = nullptr;
    }
    if (lockFile) {
        lockFile->unlock();
        delete lockFile;
        lockFile = nullptr;
    }
}

QString SingleAppHandler::serverName()
{
    const QByteArray name = QCoreApplication::applicationName().toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex());
}

namespace
{
QString runtimeDirectory()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty() || !QDir().mkpath(dir))
        dir = QDir::tempPath();
    return dir;
}
} // namespace

QString SingleAppHandler::lockFilePath()
{
    return runtimeDirectory() + QLatin1Char('/') + serverName() + QStringLiteral(".lock");
}

QString SingleAppHandler::serverAddress()
{
#ifdef Q_OS_WIN
    return serverName();
#else
    // A local socket's path must fit sockaddr_un (108 bytes with the NUL).
    const QString path = runtimeDirectory() + QLatin1Char('/') + serverName();
    return QFile::encodeName(path).size() < 108 ? path : serverName();
#endif
}

bool SingleAppHandler::claimInstance()
{
    const QString key = serverName();
    bool first = false;
    {
        QSystemSemaphore lock(key + QStringLiteral("_semaphore"), 1, QSystemSemaphore::Open);
        lock.acquire();
#ifdef Q_OS_WIN
        // The system removes the segment together with its last holder.
        delete sharedMemory;
        sharedMemory = new QSharedMemory(key);
        first = !sharedMemory->attach(QSharedMemory::ReadWrite);
        if (first)
            sharedMemory->create(1, QSharedMemory::ReadWrite);
#else
        // A System V segment outlives a killed holder, and its key keeps only
        // 16 bits of the key file's inode, so unrelated segments can collide.
        // A lock file that records its owner's process is neither: it is
        // recognised as stale once that process is gone.
        delete lockFile;
        lockFile = new QLockFile(lockFilePath());
        lockFile->setStaleLockTime(0);
        first = lockFile->tryLock(0);
        if (!first && lockFile->error() != QLockFile::LockFailedError) {
            // No marker can be kept at all (unwritable directory): running
            // unguarded beats not running.
            qWarning("Single instance marker unavailable: %s", qPrintable(lockFilePath()));
            first = true;
        }
#endif
        lock.release();
    }
    if (!first)
        return false;

    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server, &QLocalServer::newConnection, this, &SingleAppHandler::processConnection);
    // We hold the marker, so a socket file still present was left by a
    // killed instance and would make listening fail.
    QLocalServer::removeServer(serverAddress());
    if (!server->listen(serverAddress()))
        qWarning("Single instance server cannot listen: %s", qPrintable(server->errorString()));
    return true;
}

void SingleAppHandler::sendMessage(const QString &msg)
{
    QLocalSocket socket;
    socket.connectToServer(serverAddress(), QIODevice::ReadWrite);
    if (!socket.waitForConnected(500))
        return;
    socket.write((msg + QLatin1Char('\n')).toUtf8());
    socket.flush();
    if (socket.bytesToWrite() > 0)
        socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
}

void SingleAppHandler::processConnection()
{
    while (server && server->hasPendingConnections()) {
        QLocalSocket *socket = server->nextPendingConnection();
        if (!socket)
            break;
        connect(socket, &QLocalSocket::disconnected, this, &SingleAppHandler::processDisconnected);
        connect(socket, &QLocalSocket::readyRead, this, &SingleAppHandler::clientReadyRead);
        clients.insert(socket, QByteArray());
    }
}

void SingleAppHandler::clientReadyRead()
{
    auto *socket = qobject_cast<QLocalSocket *>(sender());
    if (!socket || !clients.contains(socket))
        return;

    QByteArray chunk = socket->readAll();
    const int nul = chunk.indexOf('\0');
    if (nul >= 0)
        chunk.truncate(nul);

    // Lines are split on the raw bytes and decoded whole, so a multi-byte
    // character split across two reads is not corrupted.
    QByteArray &buffer = clients[socket];
    buffer.append(chunk);
    QStringList messages;
    int start = 0;
    for (int end = buffer.indexOf('\n'); end >= 0; end = buffer.indexOf('\n', start)) {
        if (end > start)
            messages.append(QString::fromUtf8(buffer.constData() + start, end - start));
        start = end + 1;
    }
    buffer.remove(0, start);
    const bool overflow = buffer.size() > maxPendingLine;

    QPointer<SingleAppHandler> self(this);
    for (const QString &message : qAsConst(messages)) {
        emit incomingMessage(message);
        if (!self)
            return;
    }
    if (overflow && clients.contains(socket)) {
        qWarning("Single instance server: dropping a client whose line exceeds %d bytes",
                 maxPendingLine);
        dropClient(socket);
    }
}

void SingleAppHandler::processDisconnected()
{
    auto *socket = qobject_cast<QLocalSocket *>(sender());
    if (!socket)
        return;
    clients.remove(socket);
    socket->deleteLater();
}

void SingleAppHandler::dropClient(QLocalSocket *socket)
{
    clients.remove(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
