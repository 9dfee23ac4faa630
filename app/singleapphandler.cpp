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
    , m_application(parent)
{
}

SingleAppHandler::~SingleAppHandler()
{
    if (m_server) {
        const auto sockets = m_clients.keys();
        for (QLocalSocket *socket : sockets) {
            socket->close();
            socket->deleteLater();
        }
        m_clients.clear();
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    if (m_sharedMemory) {
        m_sharedMemory->detach();
        delete m_sharedMemory;
        m_sharedMemory = nullptr;
    }
    if (m_lockFile) {
        m_lockFile->unlock();
        delete m_lockFile;
        m_lockFile = nullptr;
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
        delete m_sharedMemory;
        m_sharedMemory = new QSharedMemory(key);
        first = !m_sharedMemory->attach(QSharedMemory::ReadWrite);
        if (first)
            m_sharedMemory->create(1, QSharedMemory::ReadWrite);
#else
        // A System V segment outlives a killed holder, and its key keeps only
        // 16 bits of the key file's inode, so unrelated segments can collide.
        // A lock file that records its owner's process is neither: it is
        // recognised as stale once that process is gone.
        delete m_lockFile;
        m_lockFile = new QLockFile(lockFilePath());
        m_lockFile->setStaleLockTime(0);
        first = m_lockFile->tryLock(0);
        if (!first && m_lockFile->error() != QLockFile::LockFailedError) {
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

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleAppHandler::processConnection);
    // We hold the marker, so a socket file still present was left by a
    // killed instance and would make listening fail.
    QLocalServer::removeServer(serverAddress());
    if (!m_server->listen(serverAddress()))
        qWarning("Single instance server cannot listen: %s", qPrintable(m_server->errorString()));
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
    while (m_server && m_server->hasPendingConnections()) {
        QLocalSocket *socket = m_server->nextPendingConnection();
        if (!socket)
            break;
        connect(socket, &QLocalSocket::disconnected, this, &SingleAppHandler::processDisconnected);
        connect(socket, &QLocalSocket::readyRead, this, &SingleAppHandler::clientReadyRead);
        m_clients.insert(socket, QByteArray());
    }
}

void SingleAppHandler::clientReadyRead()
{
    auto *socket = qobject_cast<QLocalSocket *>(sender());
    if (!socket || !m_clients.contains(socket))
        return;

    QByteArray chunk = socket->readAll();
    const int nul = chunk.indexOf('\0');
    if (nul >= 0)
        chunk.truncate(nul);

    // Lines are split on the raw bytes and decoded whole, so a multi-byte
    // character split across two reads is not corrupted.
    QByteArray &buffer = m_clients[socket];
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
    if (overflow && m_clients.contains(socket)) {
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
    m_clients.remove(socket);
    socket->deleteLater();
}

void SingleAppHandler::dropClient(QLocalSocket *socket)
{
    m_clients.remove(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
