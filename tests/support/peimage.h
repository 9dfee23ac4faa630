#pragma once

#include <QByteArray>
#include <QString>

// Small Windows programs (PE files) with a version resource, for the tests
// of what reads one.
namespace PeImage
{
struct Image {
    quint16 magic = 0x20b;               // PE32+; 0x10b for 32 bits
    quint32 resourceType = 16;           // the version's
    quint16 fixed[4] = {3, 3, 5, 0};     // product version, fixed part
    quint32 signature = 0xFEEF04BD;      // of the fixed part
    QString productVersion = "3.3.5";    // empty: no StringFileInfo
    quint32 peOffset = 64;
};

// A PE file of one section that holds the version resource.
QByteArray build(const Image &image);
} // namespace PeImage
