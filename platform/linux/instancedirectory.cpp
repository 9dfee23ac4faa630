// A directory of this user alone in the temporary directory, named after
// the uid.
#include "instancedirectory.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

QString InstanceDirectory::path()
{
    const QString base = QDir::tempPath();
    const QString stem = base + QStringLiteral("/tovel3-%1").arg(::geteuid());
    for (int i = 0; i < 10; ++i) {
        const QString dir = i == 0 ? stem : stem + QLatin1Char('.') + QString::number(i);
        const QByteArray path = QFile::encodeName(dir);
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
            qWarning("Single instance directory %s cannot be created: %s", path.constData(),
                     std::strerror(errno));
            return QString();
        }
        struct stat st = {};
        const bool ours =
            ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
        // Ours but readable by others (made by hand): closing it is enough.
        // Once others could write into it, what they left there is not ours.
        if (ours && (st.st_mode & 0022) == 0 &&
            ((st.st_mode & 0077) == 0 || ::chmod(path.constData(), 0700) == 0))
            return dir;
        qWarning("Single instance directory %s is not a private directory of this user; "
                 "skipping it",
                 path.constData());
    }
    qWarning("Single instance: no private directory of this user can be had in %s",
             qPrintable(base));
    return QString();
}

QString InstanceDirectory::controlAddress()
{
    const QString dir = path();
    return dir.isEmpty() ? QString() : dir + QStringLiteral("/control");
}
