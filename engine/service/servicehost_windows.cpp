// Nothing to do: Windows tells nothing about a COM port before it is opened.
#include "service/servicehost.h"

QString ServiceHost::portAccessProblem(const QString &)
{
    return QString();
}
