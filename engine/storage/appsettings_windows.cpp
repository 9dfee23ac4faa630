// The user's store is a registry key, never a pipe; whether a store can be
// written is told by its status after a write, nothing is checked before.
#include "storage/appsettings.h"

QString AppSettings::writeProblem(const QString &)
{
    return QString();
}

QString AppSettings::userStorePath()
{
    return QSettings().fileName();
}

bool AppSettings::divertIrregularUserStore()
{
    return false;
}
