#include "singleapphandler.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QSharedMemory>
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
}

QString SingleAppHandler::serverName()
{
    const QByteArray name = QCoreApplication::applicationName().toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex());
}

bool SingleAppHandler::claimInstance()
{
    const QString key = serverName();
    bool first = false;
    {
        QSystemSemaphore lock(key + QStringLiteral("_semaphore"), 1, QSystemSemaphore::Open);
        lock.acquire();
        delete sharedMemory;
        sharedMemory = new QSharedMemory(key);
        // A segment left behind by a killed instance has no users any more:
        // attaching and detaching again removes it, while a live instance
        // keeps its segment. Only a successful creation makes us first.
        if (sharedMemory->attach(QSharedMemory::ReadWrite))
            sharedMemory->detach();
        first = sharedMemory->create(1, QSharedMemory::ReadWrite);
        if (!first)
            sharedMemory->attach(QSharedMemory::ReadWrite);
        lock.release();
    }
    if (!first)
        return false;

    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server, &QLocalServer::newConnection, this, &SingleAppHandler::processConnection);
    // We hold the marker, so a socket file still present was left by a
    // killed instance and would make listening fail.
    QLocalServer::removeServer(key);
    if (!server->listen(key))
        qWarning("Single instance server cannot listen: %s", qPrintable(server->errorString()));
    return true;
}

void SingleAppHandler::sendMessage(const QString &msg)
{
    QLocalSocket socket;
    socket.connectToServer(serverName(), QIODevice::ReadWrite);
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
