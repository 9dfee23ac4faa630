// The instance marker as a lock file, and the server's socket, in a private
// directory of this user.
#include "integration/singleapphandler.h"
#include "logging.h"

#include <QLockFile>

namespace
{
// Short, so the address fits into a socket address under a long home path.
QString addressIn(const QString &dir)
{
    return dir + QStringLiteral("/instance");
}
} // namespace

QString SingleAppHandler::serverAddress()
{
    const QString dir = instanceDirectory();
    return dir.isEmpty() ? QString() : addressIn(dir);
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
        qCWarning(lcInstance, "Single instance guard unavailable: starting without it");
        return true;
    }
    delete m_lockFile;
    m_lockFile = new QLockFile(dir + QLatin1Char('/') + serverName() + ".lock");
    m_lockFile->setStaleLockTime(0);
    if (!m_lockFile->tryLock(0)) {
        if (m_lockFile->error() == QLockFile::LockFailedError)
            return false;
        qCWarning(lcInstance, "Single instance marker unavailable in %s: starting without it",
                  qPrintable(dir));
    }
    *address = addressIn(dir);
    return true;
}
