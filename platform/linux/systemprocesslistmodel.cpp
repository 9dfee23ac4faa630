// The process list from /proc: every process whose executable link we may read.
#include "systemprocesslistmodel.h"

#include <QFile>

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

QList<SystemProcess> enumerateSystemProcesses()
{
    QList<SystemProcess> result;
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
        result.append(record);
    }
    ::closedir(proc);
    return result;
}
