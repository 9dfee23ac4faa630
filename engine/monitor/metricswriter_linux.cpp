// The file is written through a temporary of this process (made exclusively,
// 0644 whatever the umask, synced) and renamed into place.
#include "monitor/metricswriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QString systemError(const QString &what, const QString &path)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, qt_error_string(errno));
}
} // namespace

QString MetricsWriter::writeFile(const QString &path, const QString &temporary,
                                 const QByteArray &content)
{
    const QByteArray temporaryName = QFile::encodeName(temporary);
    // Whatever is left under the temporary name (a file of an earlier run, or
    // a pipe or link someone put there) goes, so creating it exclusively
    // neither follows a link nor waits on a pipe.
    if (::unlink(temporaryName.constData()) != 0 && errno != ENOENT && errno != ENOTDIR)
        return systemError(QStringLiteral("cannot replace"), temporary);
    const int fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return systemError(QStringLiteral("cannot create"), temporary);
    // The node exporter reads it as another user, whatever our umask.
    ::fchmod(fd, 0644);
    QString error;
    const char *data = content.constData();
    qint64 left = content.size();
    while (error.isEmpty() && left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = systemError(QStringLiteral("cannot write"), temporary);
        } else {
            data += written;
            left -= written;
        }
    }
    if (error.isEmpty() && ::fsync(fd) != 0)
        error = systemError(QStringLiteral("cannot sync"), temporary);
    if (::close(fd) != 0 && error.isEmpty())
        error = systemError(QStringLiteral("cannot close"), temporary);
    if (error.isEmpty() &&
        ::rename(temporaryName.constData(), QFile::encodeName(path).constData()) != 0)
        error = systemError(QStringLiteral("cannot rename to"), path);
    if (!error.isEmpty())
        ::unlink(temporaryName.constData());
    return error;
}

// A process killed while writing leaves its temporary file behind; those of
// processes that are gone are removed.
void MetricsWriter::removeStaleTemporaryFiles(const QString &directory)
{
    QDir dir(directory);
    const QString prefix = QString::fromLatin1(FileName) + '.';
    const QLatin1String suffix(".tmp");
    // Name filters would compile a regular expression: plain checks instead.
    const QStringList names = dir.entryList(QDir::Files | QDir::System | QDir::Hidden);
    for (const QString &name : names) {
        if (!name.startsWith(prefix) || !name.endsWith(suffix))
            continue;
        bool isNumber = false;
        const qint64 pid = name.mid(prefix.size(), name.size() - prefix.size() - suffix.size())
                               .toLongLong(&isNumber);
        if (!isNumber || pid <= 0 || pid == QCoreApplication::applicationPid())
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            dir.remove(name);
    }
}
