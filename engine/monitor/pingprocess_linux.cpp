// iputils ping: the wait in (fractional) seconds, numbers read in the C locale.
#include "monitor/pingprocess.h"

#include <QProcessEnvironment>

QStringList PingProcess::toolArguments(const QString &target, int waitMs)
{
    // "--" keeps an address that starts with "-" from being read as an option.
    QString seconds = QString::number(waitMs / 1000);
    if (waitMs % 1000) {
        seconds += QLatin1Char('.') + QString::number(waitMs % 1000).rightJustified(3, '0');
        while (seconds.endsWith(QLatin1Char('0')))
            seconds.chop(1);
    }
    return {QStringLiteral("-n"),
            QStringLiteral("-c"),
            QStringLiteral("1"),
            QStringLiteral("-W"),
            seconds,
            QStringLiteral("--"),
            target};
}

bool PingProcess::prepareRun(const QString &address)
{
    Q_UNUSED(address)
    // A locale with a decimal comma would make the tool misread a fractional
    // wait as garbage, and a garbage wait never times out.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (env.contains(QStringLiteral("LC_ALL"))) {
        env.insert(QStringLiteral("LANG"), env.value(QStringLiteral("LC_ALL")));
        env.remove(QStringLiteral("LC_ALL"));
    }
    env.insert(QStringLiteral("LC_NUMERIC"), QStringLiteral("C"));
    m_runner->setProcessEnvironment(env);
    return true;
}

bool PingProcess::showsReply(const QByteArray &output)
{
    // iputils ping exits with 0 only when a reply came.
    Q_UNUSED(output)
    return true;
}
