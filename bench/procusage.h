#pragma once

#include <QtGlobal>

// What a running process has used so far, read from /proc.
namespace ProcUsage
{
// User plus system CPU time in clock ticks, or -1 when the process is gone.
qint64 cpuTicks(qint64 pid);
// Peak resident memory (VmHWM) in KiB, or -1 when the process is gone.
qint64 peakKilobytes(qint64 pid);
// Share of one core used between two tick readings taken seconds apart.
double cpuPercent(qint64 ticksBefore, qint64 ticksAfter, double seconds);
} // namespace ProcUsage
