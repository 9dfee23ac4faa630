#pragma once

#include <QString>

#include <vector>

// How every bench program sums up and prints its figures.
namespace BenchReport
{
// The median of the values; NaN when there are none.
double median(std::vector<double> values);
// One figure as "<what>: <value> (goal: <goal>): met|not met", the line the
// bench runner gathers into its table.
void result(const QString &what, const QString &value, const QString &goal, bool met);
} // namespace BenchReport
