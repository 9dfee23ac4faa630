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
#include <QTimer>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

QString SingleAppHandler::instanceDirectory()
{
#ifdef Q_OS_WIN
    return QString();
#else
    const QString base = QDir::tempPath();
    const QString stem = base + QStringLiteral("/tovel3-%1").arg(::geteuid());
    for (int i = 0; i < 10; ++i) {
        const QString dir = i == 0 ? stem : stem + QLatin1Char('.') + QString::number(i);
        const QByteArray path = QFile::encodeName(dir);
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
            qWarning("Single instance directory %s cannot be created: %s", path.constData(),
                     std::strerror(errno));
            return QString();
        }
        struct stat st = {};
        const bool ours =
            ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
        // Ours but readable by others (made by hand): closing it is enough.
        // Once others could write into it, what they left there is not ours.
        if (ours && (st.st_mode & 0022) == 0 &&
            ((st.st_mode & 0077) == 0 || ::chmod(path.constData(), 0700) == 0))
            return dir;
        qWarning("Single instance directory %s is not a private directory of this user; "
                 "skipping it",
                 path.constData());
    }
    qWarning("Single instance: no private directory of this user can be had in %s",
             qPrintable(base));
    return QString();
#endif
}

QString SingleAppHandler::lockFilePath()
{
    const QString dir = instanceDirectory();
    return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + serverName() + ".lock";
}

QString SingleAppHandler::serverAddress()
{
#ifdef Q_OS_WIN
    return serverName();
#else
    const QString dir = instanceDirectory();
    return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + serverName();
#endif
}

bool SingleAppHandler::claimInstance()
{
    QString address;
#ifdef Q_OS_WIN
    // Creating a named segment fails when it exists, in one step, so two
    // starts at the same moment need no lock around it. The system removes
    // the segment together with its last holder.
    delete m_sharedMemory;
    m_sharedMemory = new QSharedMemory(serverName());
    if (!m_sharedMemory->create(1, QSharedMemory::ReadWrite)) {
        if (m_sharedMemory->error() == QSharedMemory::AlreadyExists)
            return false;
        qWarning("Single instance marker unavailable: %s",
                 qPrintable(m_sharedMemory->errorString()));
    }
    address = serverName();
#else
    // A lock file that records its owner's process is recognised as stale
    // once that process is gone, and its exclusive creation serialises two
    // starts at the same moment. Nothing lives in a namespace that other
    // users share (no System V semaphore or segment, no shared directory).
    const QString dir = instanceDirectory();
    if (dir.isEmpty()) {
        // Running unguarded beats not running: the board must be fed.
        qWarning("Single instance guard unavailable: starting without it");
        return true;
    }
    delete m_lockFile;
    m_lockFile = new QLockFile(dir + QLatin1Char('/') + serverName() + ".lock");
    m_lockFile->setStaleLockTime(0);
    if (!m_lockFile->tryLock(0)) {
        if (m_lockFile->error() == QLockFile::LockFailedError)
            return false;
        qWarning("Single instance marker unavailable in %s: starting without it", qPrintable(dir));
    }
    address = dir + QLatin1Char('/') + serverName();
#endif

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleAppHandler::processConnection);
    m_idleCheck = new QTimer(this);
    m_idleCheck->setInterval(1000);
    connect(m_idleCheck, &QTimer::timeout, this, &SingleAppHandler::dropIdleClients);
    // We hold the marker, so a socket file still present was left by a
    // killed instance and would make listening fail.
    QLocalServer::removeServer(address);
    if (!m_server->listen(address))
        qWarning("Single instance server cannot listen: %s", qPrintable(m_server->errorString()));
    return true;
}

void SingleAppHandler::sendMessage(const QString &msg)
{
    const QString address = serverAddress();
    if (address.isEmpty())
        return;
    QLocalSocket socket;
    socket.connectToServer(address, QIODevice::ReadWrite);
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
        // Each client holds a descriptor: a flood must not use them all up.
        if (m_clients.size() >= maxClients) {
            if (!m_refusing)
                qWarning("Single instance server: %d clients connected, refusing more", maxClients);
            m_refusing = true;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_refusing = false;
        connect(socket, &QLocalSocket::disconnected, this, &SingleAppHandler::processDisconnected);
        connect(socket, &QLocalSocket::readyRead, this, &SingleAppHandler::clientReadyRead);
        m_clients[socket].quiet.start();
    }
    if (!m_clients.isEmpty() && !m_idleCheck->isActive())
        m_idleCheck->start();
}

void SingleAppHandler::dropIdleClients()
{
    const auto sockets = m_clients.keys();
    for (QLocalSocket *socket : sockets) {
        if (m_clients.value(socket).quiet.hasExpired(idleTimeoutMs))
            dropClient(socket);
    }
    if (m_clients.isEmpty())
        m_idleCheck->stop();
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
    Client &client = m_clients[socket];
    QByteArray &buffer = client.pending;
    buffer.append(chunk);
    QStringList messages;
    int start = 0;
    for (int end = buffer.indexOf('\n'); end >= 0; end = buffer.indexOf('\n', start)) {
        if (end > start)
            messages.append(QString::fromUtf8(buffer.constData() + start, end - start));
        start = end + 1;
    }
    buffer.remove(0, start);
    if (start > 0)
        client.quiet.start();
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
