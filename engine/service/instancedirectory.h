#pragma once

#include <QString>

// Outside Windows, where the instance guard's marker and socket, the service's
// lock and its control socket live when nothing else is named: a directory
// of this user alone under the home directory (.cache/tovel3/<host name>),
// made 0700 and used only while it is a real directory of ours closed to
// others. Not in the temporary directory, where another user may take any
// name first, and not after the session's runtime directory, which a
// desktop, su and cron see differently. Empty, after a warning, when none
// is usable; always empty on Windows.
//
// The platform's halves are instancedirectory_<system>.cpp.
namespace InstanceDirectory
{
QString path();
// Where the desktop program's control socket listens for tovel3ctl: "control"
// in that directory, or on Windows a named pipe of this user's session.
// Empty when there is none.
QString controlAddress();
} // namespace InstanceDirectory
