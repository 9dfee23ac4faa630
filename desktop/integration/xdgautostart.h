#pragma once

#include <QByteArray>
#include <QString>

// The parts of the XDG autostart entry (autostarter_linux.cpp), for the
// systems that have one.
namespace XdgAutostart
{
// The user's entry file, in $XDG_CONFIG_HOME/autostart.
QString entryFile();
// A complete desktop entry starting the given program.
QByteArray desktopEntry(const QString &program);
// Quoting of one argument for the Exec key, before string escaping.
QString execQuote(const QString &argument);
} // namespace XdgAutostart
