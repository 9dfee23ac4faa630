// Windows keeps the instance marker and the pipes in named objects: no
// directory.
#include "service/instancedirectory.h"

#include <windows.h>

QString InstanceDirectory::path()
{
    return QString();
}

QString InstanceDirectory::controlAddress()
{
    // Pipe names are one namespace for the whole machine: the user's name and
    // session keep two users' programs apart, and a user's program in one
    // session from the same user's in another.
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        return QString();
    wchar_t user[257];
    DWORD size = sizeof user / sizeof *user;
    if (!GetUserNameW(user, &size) || size == 0)
        return QString();
    return QStringLiteral("tovel3-control-%1-%2")
        .arg(session)
        .arg(QString::fromWCharArray(user, int(size) - 1));
}
