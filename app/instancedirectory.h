#pragma once

#include <QString>

// Outside Windows, where the instance guard's marker and socket, the service's
// lock and its control socket live when nothing else is named: a directory of
// this user alone, named after the uid in the temporary directory (not after a
// session's variables, which differ between a desktop, su and cron). It is
// created 0700 and used only when it is a real directory owned by us and
// closed to others; a name another user took first is skipped for the next
// one in a fixed sequence, so every start of ours still arrives at the same
// one. Empty, after a warning, when none is usable; always empty on Windows.
//
// The platform's halves are platform/<system>/instancedirectory.cpp.
namespace InstanceDirectory
{
QString path();
// Where the desktop program's control socket listens for tovel3ctl: "control"
// in that directory, or on Windows a named pipe of this user's session.
// Empty when there is none.
QString controlAddress();
} // namespace InstanceDirectory
