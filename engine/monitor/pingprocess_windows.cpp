// The Windows ping tool: the wait in milliseconds, no end-of-options marker.
// It exits with 0 once anything came back, "Destination host unreachable"
// from a router too (and Wine's even after a timeout): only an echo reply
// line, which carries the reply's TTL in every language, is an answer.
#include "monitor/pingprocess.h"

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

bool PingProcess::showsReply(const QByteArray &output)
{
    return output.contains("TTL=");
}
