#include "support/peimage.h"

#include <QtEndian>

namespace
{

void put16(QByteArray &b, int at, quint16 v)
{
    qToLittleEndian(v, b.data() + at);
}
void put32(QByteArray &b, int at, quint32 v)
{
    qToLittleEndian(v, b.data() + at);
}
void pad(QByteArray &b)
{
    while (b.size() % 4)
        b.append('\0');
}
QByteArray utf16(const QString &s)
{
    QByteArray b(reinterpret_cast<const char *>(s.utf16()), 2 * s.size());
    return b.append(2, '\0');
}
// One block of a version resource, as the resource compiler lays it out.
QByteArray block(const QString &key, quint16 type, const QByteArray &value, quint16 valueLength,
                 const QByteArray &children = {})
{
    QByteArray b(6, '\0');
    b += utf16(key);
    pad(b);
    b += value;
    pad(b);
    b += children;
    put16(b, 0, quint16(b.size()));
    put16(b, 2, valueLength);
    put16(b, 4, type);
    return b;
}
} // namespace

QByteArray PeImage::build(const Image &i)
{
    QByteArray fixed(52, '\0');
    put32(fixed, 0, i.signature);
    put32(fixed, 16, quint32(i.fixed[0]) << 16 | i.fixed[1]);
    put32(fixed, 20, quint32(i.fixed[2]) << 16 | i.fixed[3]);
    QByteArray strings;
    if (!i.productVersion.isEmpty()) {
        QByteArray table = block("CompanyName", 1, utf16("Brennic"), 8);
        pad(table);
        table += block("ProductVersion", 1, utf16(i.productVersion),
                       quint16(i.productVersion.size() + 1));
        strings = block("StringFileInfo", 1, {}, 0, block("040904b0", 1, {}, 0, table));
    }
    const QByteArray version = block("VS_VERSION_INFO", 0, fixed, 52, strings);

    const quint32 va = 0x1000;
    QByteArray rsrc(0x58, '\0');
    put16(rsrc, 0x00 + 14, 1); // type
    put32(rsrc, 0x10, i.resourceType);
    put32(rsrc, 0x14, 0x80000000 | 0x18);
    put16(rsrc, 0x18 + 14, 1); // name
    put32(rsrc, 0x28, 1);
    put32(rsrc, 0x2c, 0x80000000 | 0x30);
    put16(rsrc, 0x30 + 14, 1); // language
    put32(rsrc, 0x40, 0x409);
    put32(rsrc, 0x44, 0x48);
    put32(rsrc, 0x48, va + 0x58); // data
    put32(rsrc, 0x4c, quint32(version.size()));
    rsrc += version;

    const int optionalSize = (i.magic == 0x20b ? 112 : 96) + 16 * 8;
    QByteArray b(0x200, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 0x3c, i.peOffset);
    b.replace(64, 4, QByteArray("PE\0\0", 4));
    const int coff = 68;
    put16(b, coff, 0x8664);
    put16(b, coff + 2, 1);
    put16(b, coff + 16, quint16(optionalSize));
    const int optional = coff + 20;
    const int directories = optional + optionalSize - 16 * 8;
    put16(b, optional, i.magic);
    put32(b, directories - 4, 16);
    put32(b, directories + 16, va);
    put32(b, directories + 20, quint32(rsrc.size()));
    const int section = optional + optionalSize;
    b.replace(section, 5, ".rsrc");
    put32(b, section + 8, quint32(rsrc.size()));
    put32(b, section + 12, va);
    put32(b, section + 16, quint32(rsrc.size()));
    put32(b, section + 20, 0x200);
    return b + rsrc;
}
