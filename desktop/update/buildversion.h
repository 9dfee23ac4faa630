#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Which version a build is, read from the build itself. A feed may name any
// version for a download; a signed download cannot say another version than
// the one it was built as.
namespace BuildVersion
{
// The mark that every program of this build carries, with its version.
QByteArray mark();

// The version a downloaded build says it is: a program's mark, or a Windows
// installer's version resource. Nothing for a build without either: such a
// download is refused.
std::optional<QString> of(const QByteArray &build);

// The product version in the version resource of a Windows installer ("MZ").
std::optional<QString> ofInstaller(const QByteArray &installer);
} // namespace BuildVersion
