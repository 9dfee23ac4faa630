// A directory of this user alone under the home directory, one per machine.
#include "logging.h"
#include "service/instancedirectory.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// An existing directory, not a link, of ours or root's; with `closed` ours
// alone (one of ours made by hand, readable by others, is closed first; one
// others could write into may hold what is not ours).
bool trusted(const QByteArray &path, bool closed)
{
    struct stat st = {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (!closed)
        return st.st_uid == ::geteuid() || st.st_uid == 0;
    if (st.st_uid != ::geteuid() || (st.st_mode & 0022) != 0)
        return false;
    return (st.st_mode & 0077) == 0 || ::chmod(path.constData(), 0700) == 0;
}
} // namespace

QString InstanceDirectory::path()
{
    // Not the temporary directory, where other users may take any name
    // first, nor the session's runtime directory, which a desktop, su and
    // cron see differently (one user would get two instances): the home
    // directory, the same for every start of this user.
    const QString home = QDir::homePath();
    QString host = QSysInfo::machineHostName();
    host.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (host.isEmpty() || host.startsWith(QLatin1Char('.')))
        host = QStringLiteral("localhost");
    // A home shared between machines keeps one directory for each.
    const QStringList levels = {QStringLiteral(".cache"), QStringLiteral("tovel3"), host};
    QString dir = home;
    if (!trusted(QFile::encodeName(dir), false)) {
        qCWarning(lcInstance, "Single instance directory: home directory %s is missing or not ours",
                  qPrintable(home));
        return QString();
    }
    for (int i = 0; i < levels.size(); ++i) {
        dir += QLatin1Char('/') + levels.at(i);
        const QByteArray path = QFile::encodeName(dir);
        const bool last = i == levels.size() - 1;
        if (::mkdir(path.constData(), last ? 0700 : 0755) != 0 && errno != EEXIST) {
            qCWarning(lcInstance, "Single instance directory %s cannot be created: %s",
                      path.constData(), std::strerror(errno));
            return QString();
        }
        if (!trusted(path, last)) {
            qCWarning(lcInstance,
                      "Single instance directory %s is not a private directory of this user",
                      path.constData());
            return QString();
        }
    }
    return dir;
}

QString InstanceDirectory::controlAddress()
{
    const QString dir = path();
    return dir.isEmpty() ? QString() : dir + QStringLiteral("/control");
}
