// The user's store is an INI file under the XDG configuration directory,
// checked for write access before anything is written to it.
#include "logging.h"
#include "storage/appsettings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <unistd.h>

QString AppSettings::writeProblem(const QString &path)
{
    // The file is replaced through a new one beside it, in a directory that
    // is made when missing: the file, when it exists, and the nearest
    // directory that exists must let us write.
    const auto refused = [&path](const QString &target) {
        if (::access(QFile::encodeName(target).constData(), W_OK) == 0)
            return QString();
        return QStringLiteral("cannot write %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    };
    if (QFileInfo::exists(path)) {
        const QString reason = refused(path);
        if (!reason.isEmpty())
            return reason;
    }
    QString dir = QFileInfo(path).absolutePath();
    while (!QFileInfo::exists(dir) && QFileInfo(dir).absolutePath() != dir)
        dir = QFileInfo(dir).absolutePath();
    if (!QFileInfo(dir).isDir())
        return QStringLiteral("cannot write %1: %2 is not a directory").arg(path, dir);
    return refused(dir);
}

QString AppSettings::userStorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QCoreApplication::organizationName() + QLatin1Char('/') +
           QCoreApplication::applicationName() + QStringLiteral(".conf");
}

bool AppSettings::divertIrregularUserStore()
{
    const QString path = userStorePath();
    const QFileInfo file(path);
    if (!file.exists() || file.isFile())
        return false;
    static QTemporaryDir elsewhere;
    if (!elsewhere.isValid())
        return false;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, elsewhere.path());
    qCWarning(lcSettings,
              "Settings file %s is not a regular file: settings are kept for this run only",
              qPrintable(path));
    return true;
}
