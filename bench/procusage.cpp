#include "bench/procusage.h"

#include <QFile>
#include <QList>

#include <unistd.h>

qint64 ProcUsage::cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Fields after the parenthesised command name; utime and stime are 14 and 15.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

qint64 ProcUsage::peakKilobytes(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

double ProcUsage::cpuPercent(qint64 ticksBefore, qint64 ticksAfter, double seconds)
{
    return 100.0 * double(ticksAfter - ticksBefore) / double(sysconf(_SC_CLK_TCK)) / seconds;
}
