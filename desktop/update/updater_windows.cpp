// WinSparkle, where it is installed beside the program, has its own
// dialogues; without it the appcast is read as on Linux.
#include "update/sparkleupdater.h"
#include "update/updater.h"

#include <QCoreApplication>

BrennicUpdater *Updater::systemBackend(const QString &feedUrl)
{
    WinSparkleApi api;
    if (!SparkleUpdater::load(
            QCoreApplication::applicationDirPath() + QLatin1String("/WinSparkle.dll"), &api))
        return nullptr;
    return new SparkleUpdater(api, feedUrl);
}

QLatin1String Updater::feedFolder()
{
    return QLatin1String("win");
}
