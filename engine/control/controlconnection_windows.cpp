// A control client on a named pipe, through QLocalSocket: its own buffer is
// bounded like ours, and its disconnection arrives through the event loop.
#include "control/controlconnection.h"

#include <QLocalSocket>

ControlConnection::ControlConnection(QLocalSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    socket->setParent(this);
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
    m_socket->setReadBufferSize(m_readBufferSize);
    const int room = m_readBufferSize - m_buffer.size();
    if (room > 0 && m_socket->bytesAvailable() > 0)
        m_buffer += m_socket->read(room);
}

void ControlConnection::write(const QByteArray &data)
{
    m_socket->write(data);
}

qint64 ControlConnection::bytesToWrite() const
{
    return m_socket->bytesToWrite();
}

void ControlConnection::close()
{
    m_socket->disconnectFromServer();
}

void ControlConnection::abort()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

bool ControlConnection::isOpen() const
{
    return m_socket->state() == QLocalSocket::ConnectedState;
}
