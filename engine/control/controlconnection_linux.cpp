// A control client on a non-blocking Unix-domain socket, watched by two
// socket notifiers: the reader while the buffer has room, the writer while
// something waits to be sent (or the close waits for it).
#include "control/controlconnection.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

struct ControlConnection::Transport : QObject {
    Transport(int descriptor, ControlConnection *connection)
        : QObject(connection)
        , q(connection)
        , fd(descriptor)
        , reader(new QSocketNotifier(descriptor, QSocketNotifier::Read, this))
        , writer(new QSocketNotifier(descriptor, QSocketNotifier::Write, this))
    {
    }

    // Sends what the socket takes now; false once the connection is broken.
    bool sendPending();
    void send();
    void finish();

    ControlConnection *q;
    int fd;
    QSocketNotifier *reader;
    QSocketNotifier *writer;
    QByteArray pending; // written, not yet sent
    bool closing = false;
};

ControlConnection::ControlConnection(qintptr handle, QObject *parent)
    : QObject(parent)
    , d(new Transport(int(handle), this))
{
    d->writer->setEnabled(false);
    connect(d->reader, &QSocketNotifier::activated, this, &ControlConnection::receive);
    connect(d->writer, &QSocketNotifier::activated, d, &Transport::send);
}

ControlConnection::~ControlConnection()
{
    abort();
}

void ControlConnection::receive()
{
    const int room = m_readBufferSize - m_buffer.size();
    if (room <= 0) {
        d->reader->setEnabled(false); // until read() makes room
        return;
    }
    const int had = m_buffer.size();
    m_buffer.resize(had + room);
    ssize_t got;
    do {
        got = ::read(d->fd, m_buffer.data() + had, size_t(room));
    } while (got < 0 && errno == EINTR);
    const int error = errno;
    m_buffer.resize(had + int(qMax<ssize_t>(got, 0)));
    if (got > 0) {
        if (m_buffer.size() >= m_readBufferSize)
            d->reader->setEnabled(false);
        emit readyRead();
    } else if (got == 0) {
        close(); // the client is done sending: what it is owed still goes out
    } else if (error != EAGAIN && error != EWOULDBLOCK) {
        d->finish(); // the connection broke
    }
}

void ControlConnection::resume()
{
    if (d->fd >= 0 && !d->closing && m_buffer.size() < m_readBufferSize)
        d->reader->setEnabled(true);
}

bool ControlConnection::Transport::sendPending()
{
    while (!pending.isEmpty()) {
        // MSG_NOSIGNAL: a client gone meanwhile is an error here, not SIGPIPE.
        const ssize_t sent = ::send(fd, pending.constData(), size_t(pending.size()), MSG_NOSIGNAL);
        if (sent > 0)
            pending.remove(0, int(sent));
        else if (sent < 0 && errno == EINTR)
            continue;
        else
            return sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

void ControlConnection::write(const QByteArray &data)
{
    if (d->fd < 0 || d->closing)
        return;
    d->pending += data;
    // The rest, or the news of a failure, comes with the writer.
    if (!d->sendPending() || !d->pending.isEmpty())
        d->writer->setEnabled(true);
}

void ControlConnection::Transport::send()
{
    if (!sendPending()) {
        finish();
        return;
    }
    if (!pending.isEmpty())
        return; // more once the client reads
    writer->setEnabled(false);
    if (closing)
        finish();
}

qint64 ControlConnection::bytesToWrite() const
{
    return d->pending.size();
}

void ControlConnection::close()
{
    if (d->fd < 0 || d->closing)
        return;
    d->closing = true;
    d->reader->setEnabled(false);
    d->writer->setEnabled(true); // sends the rest, then finishes
}

void ControlConnection::Transport::finish()
{
    if (fd < 0)
        return;
    q->abort();
    emit q->disconnected();
}

void ControlConnection::abort()
{
    if (d->fd < 0)
        return;
    d->reader->setEnabled(false);
    d->writer->setEnabled(false);
    ::close(d->fd);
    d->fd = -1;
    d->pending.clear();
    d->closing = false;
}

bool ControlConnection::isOpen() const
{
    return d->fd >= 0;
}
