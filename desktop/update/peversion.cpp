#include "update/peversion.h"

namespace
{
constexpr quint32 resourceTypeVersion = 16; // RT_VERSION
constexpr quint32 fixedInfoSignature = 0xFEEF04BD;
constexpr quint32 subdirectoryBit = 0x80000000;
constexpr int fixedInfoSize = 52;
constexpr int longestVersion = 64;

// Little-endian reads at checked offsets of the file.
class Bytes
{
public:
    explicit Bytes(const QByteArray &data)
        : m_data(data)
    {
    }
    bool has(qint64 at, qint64 count) const
    {
        return at >= 0 && count >= 0 && at <= m_data.size() && count <= m_data.size() - at;
    }
    quint16 u16(qint64 at) const { return has(at, 2) ? quint16(byte(at) | byte(at + 1) << 8) : 0; }
    quint32 u32(qint64 at) const
    {
        return has(at, 4) ? quint32(u16(at)) | quint32(u16(at + 2)) << 16 : 0;
    }
    // UTF-16 text from `at` up to its terminator or `end`, whichever comes
    // first; `after` is where the terminator ends.
    QString text(qint64 at, qint64 end, qint64 *after = nullptr) const
    {
        QString s;
        while (at + 2 <= end && has(at, 2)) {
            const quint16 c = u16(at);
            at += 2;
            if (c == 0)
                break;
            s += QChar(c);
        }
        if (after)
            *after = at;
        return s;
    }

private:
    quint32 byte(qint64 at) const { return quint8(m_data[int(at)]); }
    const QByteArray &m_data;
};

// One block of the version resource: length, value and children.
struct Node {
    qint64 end = 0;
    quint16 valueLength = 0;
    quint16 type = 0; // 1: the value is text
    QString key;
    qint64 value = 0;
    qint64 children = 0;
};

class VersionResource
{
public:
    VersionResource(const Bytes &bytes, qint64 start, qint64 end)
        : b(bytes)
        , m_start(start)
        , m_end(end)
    {
    }

    std::optional<QString> productVersion() const
    {
        const std::optional<Node> root = node(m_start, m_end);
        if (!root || root->key != QLatin1String("VS_VERSION_INFO"))
            return std::nullopt;
        const std::optional<QString> text = stringValue(*root, QLatin1String("ProductVersion"));
        if (text && !text->isEmpty() && text->size() <= longestVersion)
            return text;
        if (root->valueLength < fixedInfoSize || !b.has(root->value, fixedInfoSize) ||
            b.u32(root->value) != fixedInfoSignature)
            return std::nullopt;
        const quint32 high = b.u32(root->value + 16);
        const quint32 low = b.u32(root->value + 20);
        QString version =
            QStringLiteral("%1.%2.%3").arg(high >> 16).arg(high & 0xffff).arg(low >> 16);
        if ((low & 0xffff) != 0)
            version += QLatin1Char('.') + QString::number(low & 0xffff);
        return version;
    }

private:
    // Blocks start on 32-bit boundaries of the resource.
    qint64 aligned(qint64 at) const { return m_start + ((at - m_start + 3) & ~qint64(3)); }

    std::optional<Node> node(qint64 at, qint64 limit) const
    {
        const quint16 length = b.u16(at);
        if (!b.has(at, 6) || length < 6 || at + length > limit)
            return std::nullopt;
        Node n;
        n.end = at + length;
        n.valueLength = b.u16(at + 2);
        n.type = b.u16(at + 4);
        qint64 afterKey = 0;
        n.key = b.text(at + 6, n.end, &afterKey);
        n.value = aligned(afterKey);
        const qint64 valueBytes = n.type == 1 ? 2 * qint64(n.valueLength) : n.valueLength;
        n.children = qMin(aligned(n.value + valueBytes), n.end);
        return n;
    }

    template <typename Visit> bool eachChild(const Node &parent, Visit visit) const
    {
        for (qint64 at = parent.children; at + 6 <= parent.end;) {
            const std::optional<Node> child = node(at, parent.end);
            if (!child)
                return false;
            if (visit(*child))
                return true;
            at = aligned(child->end);
        }
        return false;
    }

    // StringFileInfo / string table / the string named `name`.
    std::optional<QString> stringValue(const Node &root, QLatin1String name) const
    {
        std::optional<QString> found;
        eachChild(root, [&](const Node &info) {
            if (info.key != QLatin1String("StringFileInfo"))
                return false;
            return eachChild(info, [&](const Node &table) {
                return eachChild(table, [&](const Node &string) {
                    if (string.key != name)
                        return false;
                    found = b.text(string.value, string.end).trimmed();
                    return true;
                });
            });
        });
        return found;
    }

    const Bytes &b;
    qint64 m_start;
    qint64 m_end;
};
} // namespace

std::optional<QString> PeVersion::productVersion(const QByteArray &file)
{
    const Bytes b(file);
    if (!file.startsWith("MZ") || !b.has(0, 64))
        return std::nullopt;
    const qint64 pe = b.u32(0x3c);
    if (!b.has(pe, 24) || file.mid(int(pe), 4) != QByteArray("PE\0\0", 4))
        return std::nullopt;
    const qint64 coff = pe + 4;
    const int sectionCount = b.u16(coff + 2);
    const qint64 optionalSize = b.u16(coff + 16);
    const qint64 optional = coff + 20;
    if (!b.has(optional, optionalSize))
        return std::nullopt;
    // The data directories follow the optional header's fixed part, whose
    // size depends on 32 or 64 bits; the resources are the third.
    const quint16 magic = b.u16(optional);
    const qint64 directories = magic == 0x20b ? 112 : magic == 0x10b ? 96 : -1;
    if (directories < 0 || optionalSize < directories + 3 * 8 ||
        b.u32(optional + directories - 4) < 3)
        return std::nullopt;
    const quint32 resourceRva = b.u32(optional + directories + 16);
    if (resourceRva == 0)
        return std::nullopt;

    const qint64 sections = optional + optionalSize;
    auto fileOffset = [&](quint32 rva, quint32 size) -> qint64 {
        for (int i = 0; i < sectionCount; ++i) {
            const qint64 s = sections + 40 * qint64(i);
            if (!b.has(s, 40))
                return -1;
            const quint32 address = b.u32(s + 12);
            const quint32 rawSize = b.u32(s + 16);
            const quint32 raw = b.u32(s + 20);
            if (rva >= address && qint64(rva) - address + size <= rawSize) {
                const qint64 at = raw + (qint64(rva) - address);
                return b.has(at, size) ? at : -1;
            }
        }
        return -1;
    };
    const qint64 resources = fileOffset(resourceRva, 16);
    if (resources < 0)
        return std::nullopt;

    // The resource tree: type, name, language; the first name and language
    // of the version type.
    auto entry = [&](quint32 directory, std::optional<quint32> id) -> std::optional<quint32> {
        const qint64 at = resources + directory;
        if (!b.has(at, 16))
            return std::nullopt;
        const int count = b.u16(at + 12) + b.u16(at + 14);
        for (int i = 0; i < count; ++i) {
            const qint64 e = at + 16 + 8 * qint64(i);
            if (!b.has(e, 8))
                return std::nullopt;
            if (!id || b.u32(e) == *id)
                return b.u32(e + 4);
        }
        return std::nullopt;
    };
    std::optional<quint32> next = entry(0, resourceTypeVersion);
    for (int level = 0; level < 2; ++level) {
        if (!next || !(*next & subdirectoryBit))
            return std::nullopt;
        next = entry(*next & ~subdirectoryBit, std::nullopt);
    }
    if (!next || (*next & subdirectoryBit))
        return std::nullopt;
    const qint64 leaf = resources + *next;
    if (!b.has(leaf, 16))
        return std::nullopt;
    const quint32 size = b.u32(leaf + 4);
    const qint64 data = fileOffset(b.u32(leaf), size);
    if (data < 0)
        return std::nullopt;
    return VersionResource(b, data, data + size).productVersion();
}
