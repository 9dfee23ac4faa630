#include "service/instancelock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

namespace
{
// The command name of a running process, for telling the user who holds the
// lock ("tovel3d", "tovel3").
QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}
} // namespace

InstanceLock::InstanceLock(const QString &runtimeDir, const QString &settingsFile)
    : m_settingsFile(QFileInfo(settingsFile).absoluteFilePath())
{
    const QByteArray key =
        QCryptographicHash::hash(m_settingsFile.toUtf8(), QCryptographicHash::Sha256).toHex();
    m_path = runtimeDir + QStringLiteral("/watchdog-") + QString::fromLatin1(key.left(16)) +
             QStringLiteral(".lock");
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::tryLock()
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    m_lock.reset(new QLockFile(m_path));
    // A holder that died leaves a stale file behind: QLockFile sees that by
    // the process id.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        m_holder.clear();
        return true;
    }
    qint64 pid = 0;
    QString host, app;
    if (m_lock->error() == QLockFile::LockFailedError && m_lock->getLockInfo(&pid, &host, &app)) {
        const QString name = processName(pid);
        m_holder = QStringLiteral("%1 (pid %2) already watches the board of %3")
                       .arg(name.isEmpty() ? QStringLiteral("another instance") : name)
                       .arg(pid)
                       .arg(m_settingsFile);
    } else {
        m_holder = QStringLiteral("cannot take the lock %1").arg(m_path);
    }
    m_lock.reset();
    return false;
}
