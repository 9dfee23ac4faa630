// A control client on a named pipe, through QLocalSocket: its own buffer is
// bounded like ours, and its disconnection arrives through the event loop.
#include "control/controlconnection.h"

#include <QLocalSocket>

struct ControlConnection::Transport : QObject {
    Transport(QLocalSocket *socket, QObject *parent)
        : QObject(parent)
        , socket(socket)
    {
    }
    QLocalSocket *socket;
};

ControlConnection::ControlConnection(qintptr handle, QObject *parent)
    : QObject(parent)
    , d(new Transport(new QLocalSocket(this), this))
{
    QLocalSocket *socket = d->socket;
    socket->setSocketDescriptor(handle);
    socket->setReadBufferSize(m_readBufferSize);
    connect(socket, &QLocalSocket::readyRead, this, &ControlConnection::receive);
    connect(socket, &QLocalSocket::disconnected, this, &ControlConnection::disconnected,
            Qt::QueuedConnection);
}

ControlConnection::~ControlConnection()
{
    abort();
}

void ControlConnection::receive()
{
    const int had = m_buffer.size();
    resume();
    if (m_buffer.size() > had)
        emit readyRead();
}

void ControlConnection::resume()
{
    d->socket->setReadBufferSize(m_readBufferSize);
    const int room = m_readBufferSize - m_buffer.size();
    if (room > 0 && d->socket->bytesAvailable() > 0)
        m_buffer += d->socket->read(room);
}

void ControlConnection::write(const QByteArray &data)
{
    d->socket->write(data);
}

qint64 ControlConnection::bytesToWrite() const
{
    return d->socket->bytesToWrite();
}

void ControlConnection::close()
{
    d->socket->disconnectFromServer();
}

void ControlConnection::abort()
{
    d->socket->disconnect(this);
    d->socket->abort();
}

bool ControlConnection::isOpen() const
{
    return d->socket->state() == QLocalSocket::ConnectedState;
}
