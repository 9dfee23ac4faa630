// The process check over /proc.
#include "monitor/processwatcher.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace
{
constexpr int alive = 0;
constexpr int notAlive = 1;

// Linux keeps at most 15 bytes of a command name.
constexpr size_t commLength = 15;

bool isPid(const char *s)
{
    if (!*s)
        return false;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9')
            return false;
    }
    return true;
}

ssize_t readSmallFile(int procFd, const char *path, char *buf, size_t size)
{
    const int fd = ::openat(procFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const ssize_t n = ::read(fd, buf, size);
    ::close(fd);
    return n;
}

// The process's state letter from /proc/<pid>/stat, or 0 if it has gone.
char processState(int procFd, const char *pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "%s/stat", pid);
    char buf[512];
    const ssize_t n = readSmallFile(procFd, path, buf, sizeof buf - 1);
    if (n <= 0)
        return 0;
    buf[n] = 0;
    // The command name in parentheses may itself contain ") ".
    const char *close = std::strrchr(buf, ')');
    if (!close || close[1] != ' ')
        return 0;
    return close[2];
}

enum class Match { No, Yes, Unverified };

// Compares the process's image name with `name`: the file name of its
// executable. Where that cannot be read (a zombie, or another user's process
// without the right to look), the process can only be told by its command
// name as the kernel keeps it, which the process itself may have set:
// Unverified when that matches, and the caller decides whether to believe it.
Match matchesImage(int procFd, const char *pid, const QByteArray &name)
{
    char path[64];
    std::snprintf(path, sizeof path, "%s/exe", pid);
    char target[4096];
    ssize_t n = ::readlinkat(procFd, path, target, sizeof target - 1);
    if (n > 0) {
        static const char deleted[] = " (deleted)";
        constexpr ssize_t deletedLen = sizeof deleted - 1;
        if (n > deletedLen && std::memcmp(target + n - deletedLen, deleted, deletedLen) == 0)
            n -= deletedLen;
        const char *slash = static_cast<const char *>(memrchr(target, '/', size_t(n)));
        const char *base = slash ? slash + 1 : target;
        const size_t len = size_t(target + n - base);
        return len == size_t(name.size()) && std::memcmp(base, name.constData(), len) == 0
                   ? Match::Yes
                   : Match::No;
    }
    std::snprintf(path, sizeof path, "%s/comm", pid);
    char comm[64];
    n = readSmallFile(procFd, path, comm, sizeof comm);
    if (n <= 0)
        return Match::No; // gone meanwhile
    if (comm[n - 1] == '\n')
        --n;
    const size_t len = size_t(n);
    bool same = false;
    if (len == size_t(name.size()))
        same = std::memcmp(comm, name.constData(), len) == 0;
    // A name longer than the kernel keeps is matched by its kept beginning.
    else if (len == commLength && size_t(name.size()) > commLength)
        same = std::memcmp(comm, name.constData(), len) == 0;
    return same ? Match::Unverified : Match::No;
}

// The real user id from /proc/<pid>/status. The owner of /proc/<pid> is no
// use: a process that made itself non-dumpable shows as root's.
bool realUid(int procFd, const char *pid, uint *uid)
{
    char path[64];
    std::snprintf(path, sizeof path, "%s/status", pid);
    char buf[4096];
    const ssize_t n = readSmallFile(procFd, path, buf, sizeof buf - 1);
    if (n <= 0)
        return false;
    buf[n] = 0;
    const char *line = std::strstr(buf, "\nUid:");
    if (!line)
        return false;
    char *end = nullptr;
    const unsigned long value = std::strtoul(line + 5, &end, 10);
    if (end == line + 5)
        return false;
    *uid = uint(value);
    return true;
}

bool respondingState(char state)
{
    switch (state) {
    case 'T': // stopped
    case 't': // traced
    case 'Z': // zombie
    case 'X': // dead
    case 'x':
        return false;
    default:
        return true;
    }
}
} // namespace

bool ProcessWatcher::resolveOwner()
{
    if (m_owner.isEmpty() || m_ownerKnown)
        return true;
    bool numeric = false;
    const uint uid = m_owner.toUInt(&numeric);
    if (numeric) {
        m_ownerUid = uid;
    } else {
        const passwd *entry = ::getpwnam(QFile::encodeName(m_owner).constData());
        if (!entry)
            return false; // perhaps created later: asked again at the next check
        m_ownerUid = entry->pw_uid;
    }
    m_ownerKnown = true;
    return true;
}

int ProcessWatcher::check(const QString &name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return notAlive;
    if (!resolveOwner())
        return notAlive;
    const uint self = ::getuid();
    const uint owner = m_owner.isEmpty() ? self : m_ownerUid;
    const QByteArray image = QFile::encodeName(name);
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return notAlive;
    const int procFd = ::dirfd(proc);
    bool found = false;
    bool hanging = false;
    while (dirent *entry = ::readdir(proc)) {
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)
            continue;
        if (!isPid(entry->d_name))
            continue;
        const Match match = matchesImage(procFd, entry->d_name, image);
        if (match == Match::No)
            continue;
        // Decided after the match, which is cheaper: only the owner's
        // processes count, whatever others call themselves.
        uint uid = 0;
        if (!realUid(procFd, entry->d_name, &uid) || uid != owner)
            continue;
        const char state = processState(procFd, entry->d_name);
        if (!state)
            continue; // ended between the reads
        // A name the process gave itself stands in for its executable only
        // where nothing else can be known and nobody but the owner could
        // have set it: a zombie (it can only fail the check), or a process of
        // another owner whose executable we may not read (the service
        // watching root's daemon without the privilege to look). Our own
        // processes always show their executable while they live.
        if (match == Match::Unverified && state != 'Z' && uid == self)
            continue;
        found = true;
        if (!respondingState(state)) {
            hanging = true;
            break;
        }
    }
    ::closedir(proc);
    return found && !hanging ? alive : notAlive;
}
