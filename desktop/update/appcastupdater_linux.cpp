// Linux takes the program itself, which replaces the running one in place
// and is started anew once this process has ended.
#include "update/appcastupdater.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

QString AppcastUpdater::thisSystem()
{
    return QStringLiteral("linux");
}

void AppcastUpdater::restartWhenEnded(const QString &program)
{
    // The new start must not meet this instance, or it would only hand it
    // "show" and leave; so it waits (at most 30 s) until this process is gone.
    const QString script = QStringLiteral(
        "i=0; while kill -0 \"$1\" 2>/dev/null && [ $i -lt 150 ]; do sleep 0.2; i=$((i+1)); done; "
        "exec \"$0\"");
    QProcess::startDetached(QStringLiteral("/bin/sh"),
                            {QStringLiteral("-c"), script, program,
                             QString::number(QCoreApplication::applicationPid())});
    QCoreApplication::quit();
}

bool AppcastUpdater::isOwnFile(const QFileInfo &file)
{
    return file.ownerId() == uint(::geteuid());
}
