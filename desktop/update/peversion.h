#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The version a Windows program or installer (a PE file) says it is, read
// from the bytes of the file on any system: its version resource's
// ProductVersion text, else the product version of its fixed part
// (VS_FIXEDFILEINFO, as "a.b.c", with ".d" only when d is not 0). Nothing for
// a file without one, and for anything malformed: every offset is checked.
namespace PeVersion
{
std::optional<QString> productVersion(const QByteArray &file);
}
