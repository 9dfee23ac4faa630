#include "update/updater.h"

#include "update/brennicupdater.h"

#include <QSettings>

#ifdef Q_OS_WIN
#include "update/sparkleupdater.h"
#else
#include "update/appcastupdater.h"
#endif

Updater::Updater(QObject *parent)
    : QObject(parent)
{
    QString url;
    {
        QSettings settings;
        url = settings.value(QStringLiteral("Update/URL"), defaultFeedUrl()).toString();
    }
#ifdef Q_OS_WIN
    // WinSparkle is not linked: SparkleUpdater works once something loads
    // the library and fills its WinSparkleApi. Until then no back-end runs
    // and a check finds nothing.
    Q_UNUSED(url)
#else
    // A test hook, as TOVEL3_CYCLE_MS: the first automatic look sooner, never
    // later.
    bool delaySet = false;
    const int delay = qEnvironmentVariableIntValue("TOVEL3_UPDATE_DELAY_MS", &delaySet);
    auto *appcast =
        new AppcastUpdater(url, delaySet && delay >= 0 ? qMin(delay, AppcastUpdater::startDelayMs)
                                                       : AppcastUpdater::startDelayMs);
    connect(appcast, &AppcastUpdater::newVersion, this, &Updater::newVersion);
    connect(appcast, &AppcastUpdater::upToDate, this, &Updater::upToDate);
    connect(appcast, &AppcastUpdater::checkFailed, this, &Updater::checkFailed);
    connect(appcast, &AppcastUpdater::updateStatus, this, &Updater::updateStatus);
    backend = appcast;
#endif
}

Updater::~Updater()
{
    delete backend;
}

namespace
{
const char updateServer[] = "https://update.brennic.example";
}

QString Updater::defaultFeedUrl()
{
#ifdef Q_OS_WIN
    return QLatin1String(updateServer) + QLatin1String("/software/tovel3/updates/win/appcast.xml");
#else
    return QLatin1String(updateServer) +
           QLatin1String("/software/tovel3/updates/linux/appcast.xml");
#endif
}

QUrl Updater::downloadPageUrl()
{
    return QUrl(QLatin1String(updateServer) + QLatin1String("/software/tovel3/download/"));
}

bool Updater::reportsOutcome() const
{
    return backend && backend->reportsOutcome();
}

void Updater::checkUpdate()
{
    if (backend)
        backend->checkUpdate();
}

void Updater::doUpdate()
{
    if (backend)
        backend->doUpdate();
}
