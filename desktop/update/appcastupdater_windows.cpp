// Windows takes the installer, which is started once saved.
#include "update/appcastupdater.h"

#include <QCoreApplication>
#include <QProcess>

QString AppcastUpdater::thisSystem()
{
    return QStringLiteral("windows");
}

// The installer replaces the program's files, which it cannot while they
// run: it starts and this instance ends.
void AppcastUpdater::restartWhenEnded(const QString &installer)
{
    QProcess::startDetached(installer, {});
    QCoreApplication::quit();
}

// Nothing to check: whoever may write the file may replace it.
bool AppcastUpdater::isOwnFile(const QFileInfo &)
{
    return true;
}
