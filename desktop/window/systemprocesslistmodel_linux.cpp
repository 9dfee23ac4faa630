// The process list from /proc: every process whose executable link we may read.
#include "window/systemprocesslistmodel.h"

#include <QFile>
#include <QHash>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace
{
// The real user of a process by name (by number where it has none); empty
// when the process has gone. `names` remembers the users already looked up.
QString ownerOf(int procFd, const char *pid, QHash<uint, QString> *names)
{
    char path[64];
    std::snprintf(path, sizeof path, "%s/status", pid);
    const int fd = ::openat(procFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString();
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return QString();
    buf[n] = 0;
    const char *line = std::strstr(buf, "\nUid:");
    if (!line)
        return QString();
    char *end = nullptr;
    const uint uid = uint(std::strtoul(line + 5, &end, 10));
    if (end == line + 5)
        return QString();
    auto known = names->constFind(uid);
    if (known != names->cend())
        return *known;
    passwd entry;
    passwd *found = nullptr;
    char text[1024];
    // This runs on a worker thread: the reentrant lookup.
    const QString name = ::getpwuid_r(uid_t(uid), &entry, text, sizeof text, &found) == 0 && found
                             ? QFile::decodeName(found->pw_name)
                             : QString::number(uid);
    names->insert(uid, name);
    return name;
}
} // namespace

QList<SystemProcess> enumerateSystemProcesses()
{
    QList<SystemProcess> result;
    QHash<uint, QString> names;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return result;
    while (dirent *entry = ::readdir(proc)) {
        const char *pid = entry->d_name;
        if (*pid < '1' || *pid > '9' || std::strspn(pid, "0123456789") != std::strlen(pid))
            continue;
        char link[sizeof "/exe" + sizeof entry->d_name];
        std::snprintf(link, sizeof link, "%s/exe", pid);
        char target[4096];
        ssize_t n = ::readlinkat(::dirfd(proc), link, target, sizeof target);
        if (n <= 0 || n == ssize_t(sizeof target))
            continue; // kernel thread, zombie, gone, or not ours to look at
        static const char deleted[] = " (deleted)";
        constexpr ssize_t deletedLen = sizeof deleted - 1;
        if (n > deletedLen && std::memcmp(target + n - deletedLen, deleted, deletedLen) == 0)
            n -= deletedLen;
        const QString path = QFile::decodeName(QByteArray(target, int(n)));
        SystemProcess record;
        record.setName(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
        record.setPath(path);
        record.setOwner(ownerOf(::dirfd(proc), pid, &names));
        result.append(record);
    }
    ::closedir(proc);
    return result;
}
