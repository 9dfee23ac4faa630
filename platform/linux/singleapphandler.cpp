// The instance marker as a lock file, and the server's socket, in a private
// directory of this user.
#include "singleapphandler.h"

#include <QDir>
#include <QFile>
#include <QLockFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

QString SingleAppHandler::instanceDirectory()
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

QString SingleAppHandler::serverAddress()
{
    const QString dir = instanceDirectory();
    return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + serverName();
}

bool SingleAppHandler::claimMarker(QString *address)
{
    // A lock file that records its owner's process is recognised as stale
    // once that process is gone, and its exclusive creation serialises two
    // starts at the same moment. Nothing lives in a namespace that other
    // users share (no System V semaphore or segment, no shared directory).
    const QString dir = instanceDirectory();
    if (dir.isEmpty()) {
        // Running unguarded beats not running: the board must be fed.
        qWarning("Single instance guard unavailable: starting without it");
        return true;
    }
    delete m_lockFile;
    m_lockFile = new QLockFile(dir + QLatin1Char('/') + serverName() + ".lock");
    m_lockFile->setStaleLockTime(0);
    if (!m_lockFile->tryLock(0)) {
        if (m_lockFile->error() == QLockFile::LockFailedError)
            return false;
        qWarning("Single instance marker unavailable in %s: starting without it", qPrintable(dir));
    }
    *address = dir + QLatin1Char('/') + serverName();
    return true;
}
