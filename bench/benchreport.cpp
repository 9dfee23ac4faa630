#include "bench/benchreport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

double BenchReport::median(std::vector<double> values)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

void BenchReport::result(const QString &what, const QString &value, const QString &goal, bool met)
{
    std::printf("%s: %s (goal: %s): %s\n", qPrintable(what), qPrintable(value), qPrintable(goal),
                met ? "met" : "not met");
    std::fflush(stdout);
}
