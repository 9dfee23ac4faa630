// Windows keeps the instance marker and the pipes in named objects of the
// session: no directory.
#include "instancedirectory.h"

QString InstanceDirectory::path()
{
    return QString();
}
