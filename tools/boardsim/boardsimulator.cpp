#include "boardsim/boardsimulator.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace
{
const int partialTimeoutMs = 500;
const int splitGapMs = 100;
const int openerPollMs = 20;

bool isHex(const QByteArray &s)
{
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}
} // namespace

BoardSimulator::BoardSimulator(Model model, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_openerPoll(new QTimer(this))
    , m_partialTimer(new QTimer(this))
    , m_clock(new QTimer(this))
{
    switch (model) {
    case X2:
        m_settings = "52425120346";
        m_version = "3.1";
        break;
    case S2:
        m_settings = "52";
        m_version = "2.7";
        break;
    case LegacyS:
        m_settings = "5";
        m_version = "2.2";
        break;
    }
    m_openerPoll->setInterval(openerPollMs);
    connect(m_openerPoll, &QTimer::timeout, this, &BoardSimulator::pollForOpener);
    m_partialTimer->setSingleShot(true);
    connect(m_partialTimer, &QTimer::timeout, this, &BoardSimulator::finishCommand);
    m_clock->setSingleShot(true);
    m_clock->setTimerType(Qt::PreciseTimer);
    connect(m_clock, &QTimer::timeout, this, &BoardSimulator::clockExpired);
}

BoardSimulator::~BoardSimulator()
{
    unplug();
    QFileInfo link(m_link);
    if (!m_link.isEmpty() && link.isSymLink())
        QFile::remove(m_link);
    if (!m_ownLinkDir.isEmpty())
        QDir(m_ownLinkDir).removeRecursively();
}

bool BoardSimulator::start(const QString &linkPath)
{
    if (!m_link.isEmpty())
        return false;
    QString path = linkPath;
    if (path.isEmpty()) {
        QTemporaryDir dir(QDir::tempPath() + "/tovel3-board-XXXXXX");
        if (!dir.isValid())
            return false;
        dir.setAutoRemove(false);
        m_ownLinkDir = dir.path();
        path = m_ownLinkDir + "/port";
    }
    QFileInfo existing(path);
    if (existing.exists() || existing.isSymLink()) {
        if (!existing.isSymLink())
            return false;
    }
    m_link = QFileInfo(path).absoluteFilePath();
    if (plug())
        return true;
    m_link.clear();
    if (!m_ownLinkDir.isEmpty()) {
        QDir(m_ownLinkDir).removeRecursively();
        m_ownLinkDir.clear();
    }
    return false;
}

QString BoardSimulator::portPath() const
{
    return m_link;
}

QString BoardSimulator::slavePath() const
{
    return m_slave;
}

bool BoardSimulator::plug()
{
    if (m_link.isEmpty())
        return false;
    if (m_master >= 0)
        return true;
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    if (grantpt(fd) != 0 || unlockpt(fd) != 0) {
        ::close(fd);
        return false;
    }
    const char *name = ptsname(fd);
    if (!name) {
        ::close(fd);
        return false;
    }
    const QByteArray slaveName(name);
    // Raw mode, so that every byte passes unchanged both ways; the setting
    // stays with the PTY after this descriptor closes.
    int slave = ::open(slaveName.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        ::close(fd);
        return false;
    }
    termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    ::close(slave);

    m_master = fd;
    m_slave = QString::fromLocal8Bit(slaveName);
    ++m_generation;
    if (!pointLink(m_slave)) {
        ::close(m_master);
        m_master = -1;
        m_slave.clear();
        return false;
    }
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &BoardSimulator::onMasterReadable);
    // Nobody has the slave open yet: the master reports hang-up until someone does.
    m_notifier->setEnabled(false);
    m_openerPoll->start();
    m_pending.clear();
    m_updateMode = false;
    m_resetsSinceFeed = 0;
    restartClock();
    emit pluggedChanged(true);
    return true;
}

bool BoardSimulator::pointLink(const QString &target)
{
    // Re-point atomically so that an opener never sees the link missing.
    const QString tmp = m_link + ".new";
    QFile::remove(tmp);
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(tmp).constData()) != 0)
        return false;
    if (::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(m_link).constData()) != 0) {
        QFile::remove(tmp);
        return false;
    }
    return true;
}

void BoardSimulator::unplug()
{
    if (m_master < 0)
        return;
    ++m_generation;
    delete m_notifier;
    m_notifier = nullptr;
    m_openerPoll->stop();
    m_partialTimer->stop();
    m_clock->stop();
    m_pending.clear();
    ::close(m_master);
    m_master = -1;
    m_slave.clear();
    // The freed /dev/pts number is soon reused by some other terminal; the
    // port name must lead nowhere until the board is back.
    pointLink(QStringLiteral("/dev/null/tovel3-board-unplugged"));
    emit pluggedChanged(false);
}

bool BoardSimulator::isPlugged() const
{
    return m_master >= 0;
}

QString BoardSimulator::lineSettings() const
{
    termios t;
    if (m_master < 0 || ::tcgetattr(m_master, &t) != 0)
        return QString();
    const struct {
        speed_t code;
        int baud;
    } speeds[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                  {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    int baud = 0;
    for (const auto &s : speeds) {
        if (cfgetospeed(&t) == s.code)
            baud = s.baud;
    }
    const int bits = (t.c_cflag & CSIZE) == CS5   ? 5
                     : (t.c_cflag & CSIZE) == CS6 ? 6
                     : (t.c_cflag & CSIZE) == CS7 ? 7
                                                  : 8;
    const char parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    return QStringLiteral("%1 %2%3%4")
        .arg(baud)
        .arg(bits)
        .arg(QLatin1Char(parity))
        .arg(t.c_cflag & CSTOPB ? 2 : 1);
}

char BoardSimulator::typeLetter() const
{
    return m_model == X2 ? 'U' : 'L';
}

void BoardSimulator::setTimeScale(double secondsPerMinute)
{
    if (secondsPerMinute <= 0)
        return;
    m_secondsPerMinute = secondsPerMinute;
    if (m_clock->isActive())
        restartClock();
}

void BoardSimulator::setSilent(bool silent)
{
    m_silent = silent;
}

void BoardSimulator::setReplyDelay(int msecs)
{
    m_delay = qMax(0, msecs);
}

void BoardSimulator::setSplitReplies(bool split)
{
    m_split = split;
}

void BoardSimulator::setGarbage(const QByteArray &bytes)
{
    m_garbage = bytes;
}

void BoardSimulator::sendRaw(const QByteArray &bytes)
{
    writeNow(bytes);
}

QList<QByteArray> BoardSimulator::receivedTexts() const
{
    QList<QByteArray> texts;
    for (const Command &c : m_received)
        texts << c.text;
    return texts;
}

bool BoardSimulator::channel(int n) const
{
    return n >= 1 && n <= 2 && m_channels[n - 1];
}

bool BoardSimulator::setSettings(const QByteArray &body)
{
    const int length = m_model == X2 ? 11 : m_model == S2 ? 2 : 1;
    if (body.size() != length || !isHex(body))
        return false;
    if (m_model == LegacyS && !(body[0] >= '0' && body[0] <= '9'))
        return false;
    const int oldT1 = t1();
    m_settings = body;
    if (t1() != oldT1 && !m_suspended && isPlugged() && !m_updateMode)
        restartClock();
    return true;
}

int BoardSimulator::t1() const
{
    return m_settings.isEmpty() ? 0 : hexValue(m_settings[0]);
}

void BoardSimulator::setFirmwareVersion(const QByteArray &threeChars)
{
    m_version = threeChars.left(3).leftJustified(3, ' ');
}

void BoardSimulator::setInput(bool high)
{
    m_input = high;
}

void BoardSimulator::setTemperature(double celsius)
{
    m_temperature = celsius;
}

bool BoardSimulator::clockRunning() const
{
    return m_clock->isActive();
}

bool BoardSimulator::readMaster()
{
    if (m_master < 0)
        return false;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QByteArray bytes;
    bool opened = true;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            bytes.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        opened = n < 0 && errno == EAGAIN; // EIO: the last opener closed the slave
        break;
    }
    if (!bytes.isEmpty())
        feed(bytes, now);
    return opened;
}

void BoardSimulator::onMasterReadable()
{
    if (!readMaster() && m_notifier) {
        // Wait for the next opener without letting the hang-up state wake
        // us continuously.
        m_notifier->setEnabled(false);
        m_openerPoll->start();
    }
}

bool BoardSimulator::openerPresent() const
{
    if (m_master < 0)
        return false;
    pollfd p = {m_master, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return !(p.revents & POLLHUP);
}

void BoardSimulator::pollForOpener()
{
    // What an opener wrote right before it closed the port is still queued
    // (a USB board would have received it), even after the hang-up was seen.
    readMaster();
    if (!openerPresent())
        return;
    m_openerPoll->stop();
    if (m_notifier)
        m_notifier->setEnabled(true);
}

int BoardSimulator::argumentLength(char letter) const
{
    switch (letter) {
    case 'L':
    case 'P':
    case 'T':
    case 'M':
    case 'S':
    case 'R':
        return 1;
    case 'W':
        return m_model == X2 ? 11 : m_model == S2 ? 2 : 2; // LegacyS: digit + "\n"
    default:
        return 0;
    }
}

void BoardSimulator::feed(const QByteArray &bytes, qint64 when)
{
    QByteArray replies;
    for (char b : bytes) {
        if (m_pending.isEmpty()) {
            if (b == '~')
                m_pending.append(b);
            continue;
        }
        if (b == '~') {
            if (m_pending.size() == 1)
                continue;
            // A new command begins before the current one is complete.
            m_received.append({when, m_pending});
            const QByteArray cmd = m_pending;
            m_pending = "~";
            emit commandReceived(cmd);
            replies += handle(cmd);
            continue;
        }
        m_pending.append(b);
        if (m_pending.size() >= 2 && m_pending.size() - 2 >= argumentLength(m_pending[1])) {
            const QByteArray cmd = m_pending;
            m_pending.clear();
            m_received.append({when, cmd});
            emit commandReceived(cmd);
            replies += handle(cmd);
        }
    }
    if (m_pending.isEmpty())
        m_partialTimer->stop();
    else {
        m_pendingSince = when;
        m_partialTimer->start(partialTimeoutMs);
    }
    deliver(replies);
}

void BoardSimulator::finishCommand()
{
    if (m_pending.isEmpty())
        return;
    const QByteArray cmd = m_pending;
    m_pending.clear();
    m_received.append({m_pendingSince, cmd});
    emit commandReceived(cmd);
    deliver(handle(cmd));
}

QByteArray BoardSimulator::handle(const QByteArray &cmd)
{
    if (m_updateMode || cmd.size() < 2)
        return QByteArray();
    const char letter = cmd[1];
    const QByteArray arg = cmd.mid(2);
    const char a = arg.isEmpty() ? '\0' : arg[0];
    const int maxChannel = m_model == X2 ? 2 : 1;
    switch (letter) {
    case 'U':
        m_resetsSinceFeed = 0;
        if (!m_suspended)
            restartClock();
        return "~A\n";
    case 'L':
        if (a != '0' && a != '1')
            return QByteArray();
        m_led = a == '1';
        return cmd + "\n";
    case 'P':
        if (a != '0' && a != '1')
            return QByteArray();
        m_suspended = a == '1';
        if (m_suspended)
            m_clock->stop();
        else
            restartClock();
        return cmd + "\n";
    case 'I':
        return "~I" + m_version + typeLetter() + "\n";
    case 'G':
        if (m_model != X2)
            return QByteArray();
        return "~G" + inputReading() + "\n";
    case 'F':
        if (m_model == LegacyS)
            return QByteArray();
        return "~F" + m_settings + "\n";
    case 'W':
        if (m_model == LegacyS) {
            if (a < '0' || a > '9' || (arg.size() > 1 && arg[1] != '\n'))
                return QByteArray();
            setSettings(QByteArray(1, a));
            return QByteArray();
        }
        if (!setSettings(arg))
            return QByteArray();
        return "~F" + m_settings + "\n";
    case 'S':
    case 'R':
        if (a < '1' || a > '0' + maxChannel)
            return QByteArray();
        m_channels[a - '1'] = letter == 'S';
        return cmd + "\n";
    case 'T':
        if (a != '1' && a != '2')
            return QByteArray();
        return cmd + "\n";
    case 'M':
        if (m_model != X2 || (a != '1' && a != '2'))
            return QByteArray();
        return cmd + "\n";
    case 'D':
        m_updateMode = true;
        m_clock->stop();
        return QByteArray();
    default:
        return QByteArray();
    }
}

QByteArray BoardSimulator::inputReading() const
{
    const int function = m_settings.size() == 11 ? hexValue(m_settings[8]) : 0;
    switch (function) {
    case 1:
        return m_input ? "I001" : "I000";
    case 2:
        return m_input ? "O001" : "O000";
    case 3: {
        if (std::isnan(m_temperature))
            return "E000";
        const long tenths = std::lround(qBound(-99.9, m_temperature, 999.9) * 10);
        char text[24];
        if (tenths < 0)
            std::snprintf(text, sizeof text, "-%03ld", -tenths);
        else
            std::snprintf(text, sizeof text, "%04ld", tenths);
        return QByteArray(text);
    }
    default:
        return "F000";
    }
}

void BoardSimulator::deliver(const QByteArray &replies)
{
    if (replies.isEmpty() || m_silent)
        return;
    const QByteArray bytes = m_garbage + replies;
    const quint64 generation = m_generation;
    auto send = [this, bytes, generation] {
        if (generation != m_generation)
            return;
        if (!m_split || bytes.size() < 2) {
            writeNow(bytes);
            return;
        }
        const int half = bytes.size() / 2;
        writeNow(bytes.left(half));
        const QByteArray rest = bytes.mid(half);
        QTimer::singleShot(splitGapMs, this, [this, rest, generation] {
            if (generation == m_generation)
                writeNow(rest);
        });
    };
    if (m_delay > 0)
        QTimer::singleShot(m_delay, this, send);
    else
        send();
}

void BoardSimulator::writeNow(const QByteArray &bytes)
{
    // A USB port that nobody holds open drops what the board sends; a PTY
    // would keep it for the next opener instead.
    if (bytes.isEmpty() || !openerPresent())
        return;
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    if (done > 0)
        emit replySent(bytes.left(int(done)));
}

void BoardSimulator::restartClock()
{
    const int minutes = t1();
    if (!isPlugged() || m_updateMode || m_suspended || minutes == 0) {
        m_clock->stop();
        return;
    }
    if (m_model == X2) {
        const int limit = hexValue(m_settings[7]);
        if (limit > 0 && m_resetsSinceFeed >= limit) {
            m_clock->stop();
            return;
        }
    }
    const double ms = minutes * m_secondsPerMinute * 1000.0;
    m_clock->start(int(qBound(1.0, ms, 2147483647.0)));
}

void BoardSimulator::clockExpired()
{
    ++m_resets;
    ++m_resetsSinceFeed;
    emit resetFired();
    restartClock();
}
