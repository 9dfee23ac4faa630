// The control socket as a Unix-domain socket of our own, watched by a socket
// notifier. It is made in a private directory beside its place and moved
// there with its owner and mode set: nobody can connect before, and a stale
// socket file is replaced in the same step.
#include "control/controlserver.h"

#include "control/controlconnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
quint64 inodeOf(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 ? quint64(st.st_ino) : 0;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// False when the path does not fit into a socket address.
bool toAddress(const QByteArray &path, sockaddr_un *address)
{
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, path.constData(), size_t(path.size()));
    return true;
}

// Something accepts connections there: a running instance. The file a dead
// one left behind refuses, as does a missing one.
bool answers(const sockaddr_un &address)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A listener whose queue is full says EAGAIN: alive all the same.
    const bool live =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 ||
        errno == EAGAIN;
    ::close(fd);
    return live;
}
} // namespace

// Our socket, its notifier and the inode of the socket file we put at m_path.
struct ControlServer::Listener : QObject {
    Listener(int descriptor, quint64 inode, QObject *parent)
        : QObject(parent)
        , fd(descriptor)
        , inode(inode)
        , accepter(new QSocketNotifier(descriptor, QSocketNotifier::Read, this))
    {
    }
    int fd;
    quint64 inode;
    QSocketNotifier *accepter;
};

bool ControlServer::listen(const QString &path, Access access, const QString &group)
{
    close();
    m_error.clear();
    const QString target = QFileInfo(path).absoluteFilePath();
    const QByteArray targetName = QFile::encodeName(target);
    sockaddr_un address;
    if (!toAddress(targetName, &address)) {
        m_error = QStringLiteral("cannot listen on %1: the path is too long").arg(target);
        return false;
    }
    if (answers(address)) {
        m_error = QStringLiteral("another instance listens on %1").arg(target);
        return false;
    }

    gid_t gid = gid_t(-1);
    if (access == Group && !group.isEmpty()) {
        const struct group *entry = ::getgrnam(QFile::encodeName(group).constData());
        if (!entry) {
            m_error = QStringLiteral("no group %1").arg(group);
            return false;
        }
        gid = entry->gr_gid;
    }

    const QString dir = QFileInfo(target).absolutePath();
    QDir().mkpath(dir);
    QByteArray staging = QFile::encodeName(dir) + "/.control-XXXXXX";
    if (!::mkdtemp(staging.data())) {
        m_error = QStringLiteral("cannot create a socket in %1: %2").arg(dir, systemError());
        return false;
    }
    // The kernel's queue is as long as QLocalServer's; the cap on connections
    // applies to those accepted.
    const int backlog = 50;
    const QByteArray temporary = staging + "/s";
    sockaddr_un temporaryAddress;
    const bool fits = toAddress(temporary, &temporaryAddress);
    const int fd = fits ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0) : -1;
    if (!fits) {
        m_error = QStringLiteral("cannot listen on %1: the path is too long").arg(target);
    } else if (fd < 0 ||
               ::bind(fd, reinterpret_cast<const sockaddr *>(&temporaryAddress),
                      sizeof temporaryAddress) != 0 ||
               ::listen(fd, backlog) != 0) {
        m_error = QStringLiteral("cannot listen on %1: %2").arg(target, systemError());
    } else if ((gid != gid_t(-1) && ::chown(temporary.constData(), uid_t(-1), gid) != 0) ||
               ::chmod(temporary.constData(), access == Group ? 0660 : 0600) != 0 ||
               ::rename(temporary.constData(), targetName.constData()) != 0) {
        m_error = QStringLiteral("cannot set up %1: %2").arg(target, systemError());
    }
    if (!m_error.isEmpty()) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.constData());
    }
    ::rmdir(staging.constData());
    if (!m_error.isEmpty())
        return false;

    m_listener = new Listener(fd, inodeOf(targetName), this);
    connect(m_listener->accepter, &QSocketNotifier::activated, this,
            &ControlServer::acceptConnections);
    m_path = target;
    return true;
}

void ControlServer::acceptConnections()
{
    for (;;) {
        const int fd = ::accept4(m_listener->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            addClient(new ControlConnection(fd, this));
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // Out of descriptors or memory: the queue waits a while rather
            // than the notifier spinning on it.
            QSocketNotifier *accepter = m_listener->accepter;
            accepter->setEnabled(false);
            QTimer::singleShot(1000, accepter, [accepter] { accepter->setEnabled(true); });
        }
        return; // EAGAIN: all taken
    }
}

void ControlServer::closeListener()
{
    if (!m_listener)
        return;
    const int fd = m_listener->fd;
    const quint64 inode = m_listener->inode;
    delete m_listener;
    m_listener = nullptr;
    ::close(fd);
    // Only our own socket file: another instance may have taken the name.
    const QByteArray name = QFile::encodeName(m_path);
    if (inode && inodeOf(name) == inode)
        ::unlink(name.constData());
}
