#include "integration/autostarter.h"

AutoStarter::AutoStarter(QObject *parent)
    : QObject(parent)
{
}

QString AutoStarter::entryName()
{
    return QStringLiteral("BrennicTovel3");
}

void AutoStarter::checkAutostart()
{
    const QString value = readCommand();
    if (value.isEmpty())
        return;
    const QString expected = expectedCommand(executablePath());
    if (value != expected)
        writeCommand(expected);
}

bool AutoStarter::autostartSet()
{
    return readCommand() == expectedCommand(executablePath());
}

void AutoStarter::setAutostart(bool on)
{
    if (on)
        writeCommand(expectedCommand(executablePath()));
    else if (!readCommand().isEmpty())
        removeCommand();
}
