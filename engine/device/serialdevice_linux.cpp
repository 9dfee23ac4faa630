#include "device/serialdevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// The terminal is opened and set up here rather than through QSerialPort,
// whose exclusive use rests on a lock file in the world-writable lock
// directory: any user could plant one there and keep the port from opening.
// Here exclusive use is a lock on the device and its exclusive mode, which
// only those who may open the device can take.

namespace
{
const int writeTimeoutMs = 500;
} // namespace

struct SerialDevice::Private {
    int fd = -1;
    QSocketNotifier *notifier = nullptr;
    QByteArray received;

    // Takes in what the device holds; false when the device is gone.
    bool drain()
    {
        char buf[1024];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                received.append(buf, int(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            // 0: hung up; EIO: the other end is gone
            return n < 0 && errno == EAGAIN;
        }
    }

    void release()
    {
        if (fd < 0)
            return;
        // Never deleted from inside its own notification.
        notifier->setEnabled(false);
        notifier->deleteLater();
        notifier = nullptr;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd); // also drops the lock
        fd = -1;
    }
};

SerialDevice::SerialDevice(QObject *parent)
    : QObject(parent)
    , d(new Private)
{
}

SerialDevice::~SerialDevice()
{
    if (d->fd >= 0) {
        delete d->notifier;
        d->notifier = nullptr;
        ::ioctl(d->fd, TIOCNXCL);
        ::close(d->fd);
    }
}

bool SerialDevice::open(const QString &name)
{
    close();
    if (name.isEmpty())
        return false;
    const QString path = name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios tio;
    if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return false;
    }
    // Root is not held off by the exclusive mode; the lock holds everyone.
    ::ioctl(fd, TIOCEXCL);
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    // With one byte as the minimum a read of nothing is EAGAIN, and 0 means
    // the line hung up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    }
    ::tcflush(fd, TCIFLUSH); // what came before this open is nobody's answer
    d->fd = fd;
    d->received.clear();
    d->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, [this] {
        const int before = d->received.size();
        if (!d->drain())
            d->release();
        if (d->received.size() > before)
            emit readyRead();
    });
    return true;
}

void SerialDevice::close()
{
    d->release();
    d->received.clear();
}

bool SerialDevice::isOpen()
{
    if (d->fd < 0)
        return false;
    pollfd p = {d->fd, 0, 0};
    if (::poll(&p, 1, 0) >= 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        d->drain(); // the last words stay readable
        d->release();
    }
    return d->fd >= 0;
}

QByteArray SerialDevice::readAll()
{
    if (d->fd >= 0 && !d->drain())
        d->release();
    QByteArray bytes;
    bytes.swap(d->received);
    return bytes;
}

bool SerialDevice::write(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    QElapsedTimer waited;
    waited.start();
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(d->fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN && waited.elapsed() < writeTimeoutMs) {
            pollfd p = {d->fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
            continue;
        }
        if (!(n < 0 && errno == EAGAIN))
            d->release();
        return false;
    }
    return true;
}
