// A control client on a non-blocking Unix-domain socket, watched by two
// socket notifiers: the reader while the buffer has room, the writer while
// something waits to be sent (or the close waits for it).
#include "control/controlconnection.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

ControlConnection::ControlConnection(int descriptor, QObject *parent)
    : QObject(parent)
    , m_fd(descriptor)
    , m_reader(new QSocketNotifier(descriptor, QSocketNotifier::Read, this))
    , m_writer(new QSocketNotifier(descriptor, QSocketNotifier::Write, this))
{
    m_writer->setEnabled(false);
    connect(m_reader, &QSocketNotifier::activated, this, &ControlConnection::receive);
    connect(m_writer, &QSocketNotifier::activated, this, &ControlConnection::send);
}

ControlConnection::~ControlConnection()
{
    abort();
}

void ControlConnection::receive()
{
    const int room = m_readBufferSize - m_buffer.size();
    if (room <= 0) {
        m_reader->setEnabled(false); // until read() makes room
        return;
    }
    const int had = m_buffer.size();
    m_buffer.resize(had + room);
    ssize_t got;
    do {
        got = ::read(m_fd, m_buffer.data() + had, size_t(room));
    } while (got < 0 && errno == EINTR);
    const int error = errno;
    m_buffer.resize(had + int(qMax<ssize_t>(got, 0)));
    if (got > 0) {
        if (m_buffer.size() >= m_readBufferSize)
            m_reader->setEnabled(false);
        emit readyRead();
    } else if (got == 0) {
        close(); // the client is done sending: what it is owed still goes out
    } else if (error != EAGAIN && error != EWOULDBLOCK) {
        finish(); // the connection broke
    }
}

void ControlConnection::resume()
{
    if (m_fd >= 0 && !m_closing && m_buffer.size() < m_readBufferSize)
        m_reader->setEnabled(true);
}

bool ControlConnection::sendPending()
{
    while (!m_pending.isEmpty()) {
        // MSG_NOSIGNAL: a client gone meanwhile is an error here, not SIGPIPE.
        const ssize_t sent =
            ::send(m_fd, m_pending.constData(), size_t(m_pending.size()), MSG_NOSIGNAL);
        if (sent > 0)
            m_pending.remove(0, int(sent));
        else if (sent < 0 && errno == EINTR)
            continue;
        else
            return sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

void ControlConnection::write(const QByteArray &data)
{
    if (m_fd < 0 || m_closing)
        return;
    m_pending += data;
    // The rest, or the news of a failure, comes with the writer.
    if (!sendPending() || !m_pending.isEmpty())
        m_writer->setEnabled(true);
}

void ControlConnection::send()
{
    if (!sendPending()) {
        finish();
        return;
    }
    if (!m_pending.isEmpty())
        return; // more once the client reads
    m_writer->setEnabled(false);
    if (m_closing)
        finish();
}

qint64 ControlConnection::bytesToWrite() const
{
    return m_pending.size();
}

void ControlConnection::close()
{
    if (m_fd < 0 || m_closing)
        return;
    m_closing = true;
    m_reader->setEnabled(false);
    m_writer->setEnabled(true); // sends the rest, then finishes
}

void ControlConnection::finish()
{
    if (m_fd < 0)
        return;
    abort();
    emit disconnected();
}

void ControlConnection::abort()
{
    if (m_fd < 0)
        return;
    m_reader->setEnabled(false);
    m_writer->setEnabled(false);
    ::close(m_fd);
    m_fd = -1;
    m_pending.clear();
    m_closing = false;
}

bool ControlConnection::isOpen() const
{
    return m_fd >= 0;
}
