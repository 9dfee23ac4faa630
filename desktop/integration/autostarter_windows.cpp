// The autostart entry as a value under the user's Run key in the registry.
#include "integration/autostarter.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

namespace
{
const char runKey[] = "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
} // namespace

QString AutoStarter::executablePath()
{
    return QCoreApplication::applicationFilePath();
}

QString AutoStarter::expectedCommand(const QString &program)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(program) + QLatin1Char('"');
}

QString AutoStarter::readCommand() const
{
    QSettings run(QString::fromLatin1(runKey), QSettings::NativeFormat);
    return run.value(entryName()).toString();
}

void AutoStarter::writeCommand(const QString &command)
{
    QSettings run(QString::fromLatin1(runKey), QSettings::NativeFormat);
    run.setValue(entryName(), command);
}

void AutoStarter::removeCommand()
{
    QSettings run(QString::fromLatin1(runKey), QSettings::NativeFormat);
    run.remove(entryName());
}
