// Linux has no update mechanism of its own for a program outside its
// packages: the appcast is read.
#include "update/updater.h"

BrennicUpdater *Updater::systemBackend(const QString &)
{
    return nullptr;
}

QLatin1String Updater::feedFolder()
{
    return QLatin1String("linux");
}
