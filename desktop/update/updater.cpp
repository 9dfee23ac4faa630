#include "update/updater.h"

#include "update/appcastupdater.h"
#include "storage/appsettings.h"
#include "update/brennicupdater.h"

Updater::Updater(QObject *parent)
    : QObject(parent)
{
    QString url = AppSettings(nullptr).updateUrl();
    if (url.isEmpty())
        url = defaultFeedUrl();
    // The system's own mechanism where there is one (WinSparkle on Windows,
    // when installed), else the appcast.
    backend = systemBackend(url);
    if (backend)
        return;
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
    return QLatin1String(updateServer) + QLatin1String("/software/tovel3/updates/") + feedFolder() +
           QLatin1String("/appcast.xml");
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
