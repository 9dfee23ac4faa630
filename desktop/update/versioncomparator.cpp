#include "update/versioncomparator.h"

#include <QStringList>
#include <QVector>

namespace
{
enum class Kind { Number, Text, Separator };

Kind kindOf(QChar c)
{
    if (c.isDigit())
        return Kind::Number;
    if (c.isSpace() || c.isPunct() || c.isSymbol())
        return Kind::Separator;
    return Kind::Text;
}

struct Run {
    Kind kind;
    QString text;
};

QVector<Run> split(const QString &v)
{
    QVector<Run> runs;
    for (const QChar c : v) {
        const Kind k = kindOf(c);
        if (runs.isEmpty() || runs.last().kind != k || k == Kind::Separator)
            runs.append({k, QString(c)});
        else
            runs.last().text += c;
    }
    return runs;
}

// Digit runs of any length, without overflow.
int compareNumbers(QString a, QString b)
{
    while (a.size() > 1 && a.at(0) == QLatin1Char('0'))
        a.remove(0, 1);
    while (b.size() > 1 && b.at(0) == QLatin1Char('0'))
        b.remove(0, 1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
} // namespace

int VersionComparator::compare(const QString &a, const QString &b)
{
    const QVector<Run> ra = split(a);
    const QVector<Run> rb = split(b);
    const int n = qMin(ra.size(), rb.size());
    for (int i = 0; i < n; ++i) {
        const Kind ka = ra.at(i).kind;
        const Kind kb = rb.at(i).kind;
        if (ka == kb) {
            int c = 0;
            if (ka == Kind::Number)
                c = compareNumbers(ra.at(i).text, rb.at(i).text);
            else if (ka == Kind::Text)
                c = ra.at(i).text.compare(rb.at(i).text);
            if (c != 0)
                return c < 0 ? -1 : 1;
            continue;
        }
        // Where the kinds differ, a letter run is always the older side; a
        // number beats a separator.
        if (kb == Kind::Text)
            return 1;
        if (ka == Kind::Text)
            return -1;
        return ka == Kind::Number ? 1 : -1;
    }
    if (ra.size() == rb.size())
        return 0;
    const QVector<Run> &longer = ra.size() > rb.size() ? ra : rb;
    const int sign = ra.size() > rb.size() ? 1 : -1;
    // Zeros the longer text adds change nothing ("1.0.0" is "1.0"); what
    // follows them decides: letters mark a pre-release ("1.0b1", "1.0.0rc1"),
    // any other number a later release.
    for (int i = n; i < longer.size(); ++i) {
        const Run &r = longer.at(i);
        if (r.kind == Kind::Text)
            return -sign;
        if (r.kind == Kind::Number && compareNumbers(r.text, QStringLiteral("0")) != 0)
            return sign;
    }
    return 0;
}
