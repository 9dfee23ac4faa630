// The Windows ping tool: the wait in milliseconds, no end-of-options marker.
#include "pingprocess.h"

QStringList PingProcess::toolArguments(const QString &target, int waitMs)
{
    return {QStringLiteral("-n"), QStringLiteral("1"), QStringLiteral("-w"),
            QString::number(waitMs), target};
}

bool PingProcess::prepareRun(const QString &address)
{
    // The tool reads both "-x" and "/x" as options, so such an address is
    // refused, never passed on.
    if (!address.startsWith(QLatin1Char('-')) && !address.startsWith(QLatin1Char('/')))
        return true;
    QMetaObject::invokeMethod(
        this,
        [this, address] {
            m_exitCode = 1;
            m_output = QStringLiteral("Invalid address: ") + address;
            emit finished();
        },
        Qt::QueuedConnection);
    return false;
}
