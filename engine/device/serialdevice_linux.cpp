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

struct Speed {
    speed_t code;
    int baud;
};
const Speed speeds[] = {{B1200, 1200},   {B2400, 2400},     {B4800, 4800},
                        {B9600, 9600},   {B19200, 19200},   {B38400, 38400},
                        {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};

int baudOf(speed_t code)
{
    for (const Speed &s : speeds) {
        if (s.code == code)
            return s.baud;
    }
    return 0;
}

bool speedOf(int baud, speed_t *code)
{
    for (const Speed &s : speeds) {
        if (s.baud == baud) {
            *code = s.code;
            return true;
        }
    }
    return false;
}

const struct {
    const char *key;
    int bit;
} modemLines[] = {{"rts", TIOCM_RTS}, {"dtr", TIOCM_DTR}, {"cts", TIOCM_CTS},
                  {"dsr", TIOCM_DSR}, {"dcd", TIOCM_CAR}, {"ri", TIOCM_RNG}};
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

    // Changes the settings by `change`; true when the device reports them
    // as asked afterwards.
    template <typename Change> bool apply(Change change)
    {
        termios wanted;
        if (::tcgetattr(fd, &wanted) != 0)
            return false;
        change(wanted);
        termios now;
        if (::tcsetattr(fd, TCSANOW, &wanted) != 0 || ::tcgetattr(fd, &now) != 0)
            return false;
        return now.c_cflag == wanted.c_cflag && cfgetospeed(&now) == cfgetospeed(&wanted);
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

QString SerialDevice::param(const QString &key)
{
    termios t;
    if (!isOpen() || ::tcgetattr(d->fd, &t) != 0)
        return QString();
    if (key == QLatin1String("baud"))
        return QString::number(baudOf(cfgetospeed(&t)));
    if (key == QLatin1String("bits")) {
        switch (t.c_cflag & CSIZE) {
        case CS5:
            return QStringLiteral("5");
        case CS6:
            return QStringLiteral("6");
        case CS7:
            return QStringLiteral("7");
        default:
            return QStringLiteral("8");
        }
    }
    if (key == QLatin1String("parity")) {
        if (!(t.c_cflag & PARENB))
            return QStringLiteral("n");
        if (t.c_cflag & CMSPAR)
            return QLatin1String(t.c_cflag & PARODD ? "m" : "s");
        return QLatin1String(t.c_cflag & PARODD ? "o" : "e");
    }
    if (key == QLatin1String("stops"))
        return QLatin1String(t.c_cflag & CSTOPB ? "2" : "1");
    for (const auto &line : modemLines) {
        if (key == QLatin1String(line.key)) {
            int lines = 0;
            const bool known = ::ioctl(d->fd, TIOCMGET, &lines) == 0;
            return QLatin1String(known && (lines & line.bit) ? "1" : "0");
        }
    }
    return QString();
}

bool SerialDevice::setParam(const QString &key, const QString &value)
{
    if (!isOpen())
        return false;
    const int number = value.toInt(); // unparsable text counts as 0
    if (key == QLatin1String("rts") || key == QLatin1String("dtr")) {
        int bit = key == QLatin1String("rts") ? TIOCM_RTS : TIOCM_DTR;
        return ::ioctl(d->fd, number != 0 ? TIOCMBIS : TIOCMBIC, &bit) == 0;
    }
    if (key == QLatin1String("baud")) {
        speed_t code;
        return speedOf(number, &code) && d->apply([code](termios &t) {
            cfsetispeed(&t, code);
            cfsetospeed(&t, code);
        });
    }
    if (key == QLatin1String("bits")) {
        const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        if (number < 5 || number > 8)
            return false;
        const tcflag_t size = sizes[number - 5];
        return d->apply([size](termios &t) { t.c_cflag = (t.c_cflag & ~CSIZE) | size; });
    }
    if (key == QLatin1String("parity")) {
        const int kind = QByteArrayLiteral("neosm").indexOf(value.left(1).toLatin1());
        if (value.isEmpty() || kind < 0)
            return false;
        const tcflag_t flags[] = {0, PARENB, PARENB | PARODD, PARENB | CMSPAR,
                                  PARENB | CMSPAR | PARODD};
        const tcflag_t parity = flags[kind];
        return d->apply([parity](termios &t) {
            t.c_cflag = (t.c_cflag & ~(PARENB | PARODD | CMSPAR)) | parity;
        });
    }
    if (key == QLatin1String("stops")) {
        if (number != 1 && number != 2)
            return false;
        return d->apply([number](termios &t) {
            t.c_cflag = number == 2 ? (t.c_cflag | CSTOPB) : (t.c_cflag & ~CSTOPB);
        });
    }
    return false;
}
