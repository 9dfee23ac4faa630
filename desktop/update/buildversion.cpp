#include "update/buildversion.h"

#include "update/peversion.h"

namespace
{
const char prefix[] = "\x01tovel3-build-version:";
const char end = '\x01';
const int longestVersion = 31;

bool isVersionCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
           c == '-' || c == '+' || c == '~';
}
} // namespace

// Kept by compiler and linker although only its bytes are ever read, by the
// next version's updater.
extern const char tovel3BuildVersionMark[];
#ifdef __GNUC__
__attribute__((used))
#endif
const char tovel3BuildVersionMark[] = "\x01tovel3-build-version:" TOVEL3_VERSION "\x01";

QByteArray BuildVersion::mark()
{
    return QByteArray(tovel3BuildVersionMark);
}

std::optional<QString> BuildVersion::of(const QByteArray &build)
{
    if (build.startsWith("MZ"))
        return ofInstaller(build);
    const QByteArray start(prefix);
    for (int at = build.indexOf(start); at >= 0; at = build.indexOf(start, at + 1)) {
        const int from = at + start.size();
        int to = from;
        while (to < build.size() && to - from <= longestVersion && isVersionCharacter(build[to]))
            ++to;
        // The text this reader searches for is in the program too, without a
        // version after it.
        if (to > from && to < build.size() && build[to] == end)
            return QString::fromLatin1(build.mid(from, to - from));
    }
    return std::nullopt;
}

std::optional<QString> BuildVersion::ofInstaller(const QByteArray &installer)
{
    return PeVersion::productVersion(installer);
}
