#pragma once

#include <QByteArray>
#include <QString>

// Whole-file reads and writes for checking what the code under test stored.
namespace TestFiles
{
// The file's bytes, or nothing when it cannot be read.
QByteArray contents(const QString &path);
// Replaces the file's content; true only when every byte was written.
bool writeFile(const QString &path, const QByteArray &data);
} // namespace TestFiles
