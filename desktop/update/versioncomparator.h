#pragma once

#include <QString>

// Orders version texts the way appcast readers do: each text is cut into
// runs of digits, runs of other letters and single separators, and the runs
// are compared pairwise. A trailing letter run marks a pre-release, so "1.0"
// is newer than "1.0b1" and "3.3.10" newer than "3.3.9".
class VersionComparator
{
public:
    // Negative when a is older than b, zero when equal, positive when newer.
    static int compare(const QString &a, const QString &b);
};
