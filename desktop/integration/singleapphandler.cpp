#include "integration/singleapphandler.h"
#include "logging.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QSharedMemory>
#include <QTimer>

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

QString SingleAppHandler::lockFilePath()
{
    const QString dir = instanceDirectory();
    return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + serverName() + ".lock";
}

bool SingleAppHandler::claimInstance()
{
    QString address;
    if (!claimMarker(&address))
        return false;
    if (address.isEmpty())
        return true; // running unguarded, so no server either

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleAppHandler::processConnection);
    m_idleCheck = new QTimer(this);
    m_idleCheck->setInterval(m_idleTimeout / 5);
    connect(m_idleCheck, &QTimer::timeout, this, &SingleAppHandler::dropIdleClients);
    // We hold the marker, so a socket file still present was left by a
    // killed instance and would make listening fail.
    QLocalServer::removeServer(address);
    if (!m_server->listen(address))
        qCWarning(lcInstance, "Single instance server cannot listen: %s",
                  qPrintable(m_server->errorString()));
    return true;
}

void SingleAppHandler::setIdleTimeout(int ms)
{
    m_idleTimeout = ms;
    if (m_idleCheck)
        m_idleCheck->setInterval(ms / 5);
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
    // The line must be on its way before the socket goes. On Windows the
    // socket hands it to the pipe from the event loop only: without one
    // running, waiting for the bytes to be written returns at once and
    // closing drops them.
    QElapsedTimer clock;
    clock.start();
    while (socket.bytesToWrite() > 0 && !clock.hasExpired(500)) {
        if (!socket.waitForBytesWritten(50))
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
    }
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
                qCWarning(lcInstance, "Single instance server: %d clients connected, refusing more",
                          maxClients);
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
        if (m_clients.value(socket).quiet.hasExpired(m_idleTimeout))
            dropClient(socket);
    }
    if (m_clients.isEmpty())
        m_idleCheck->stop();
}

void SingleAppHandler::clientReadyRead()
{
    auto *socket = qobject_cast<QLocalSocket *>(sender());
    if (socket && m_clients.contains(socket))
        takeLines(socket);
}

bool SingleAppHandler::takeLines(QLocalSocket *socket)
{
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
            return false;
    }
    if (overflow && m_clients.contains(socket)) {
        qCWarning(lcInstance,
                  "Single instance server: dropping a client whose line exceeds %d bytes",
                  maxPendingLine);
        dropClient(socket);
    }
    return true;
}

void SingleAppHandler::processDisconnected()
{
    auto *socket = qobject_cast<QLocalSocket *>(sender());
    if (!socket)
        return;
    // The lines of a client that wrote and closed at once may still wait
    // here: on Windows the pipe's end is reported before the data read
    // with it.
    if (m_clients.contains(socket) && socket->isOpen() &&
        (!takeLines(socket) || !m_clients.contains(socket)))
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
