#include "update/sparkleupdater.h"

#include <QCoreApplication>
#include <QLibrary>

#include <type_traits>

namespace
{
// Longer texts are cut to what the fixed buffers hold, terminator included.
template <int N> void fill(wchar_t (&buffer)[N], const QString &text)
{
    const int n = text.left(N - 1).toWCharArray(buffer);
    buffer[n] = L'\0';
}
} // namespace

bool SparkleUpdater::load(const QString &path, WinSparkleApi *api)
{
    QLibrary library(path);
    if (!library.load())
        return false;
    WinSparkleApi found = {};
    bool complete = true;
    auto resolve = [&](auto &function, const char *name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.resolve(name));
        complete = complete && function;
    };
    resolve(found.init, "win_sparkle_init");
    resolve(found.cleanup, "win_sparkle_cleanup");
    resolve(found.setAppDetails, "win_sparkle_set_app_details");
    resolve(found.setAppcastUrl, "win_sparkle_set_appcast_url");
    resolve(found.setAutomaticCheckForUpdates, "win_sparkle_set_automatic_check_for_updates");
    resolve(found.setUpdateCheckInterval, "win_sparkle_set_update_check_interval");
    resolve(found.checkUpdateWithUi, "win_sparkle_check_update_with_ui");
    if (!complete) {
        library.unload();
        return false;
    }
    *api = found;
    return true;
}

SparkleUpdater::SparkleUpdater(const WinSparkleApi &api, const QString &url)
    : m_api(api)
{
    wchar_t company[128];
    wchar_t app[128];
    wchar_t version[32];
    fill(company, QCoreApplication::organizationName());
    fill(app, QCoreApplication::applicationName());
    fill(version, QCoreApplication::applicationVersion());
    m_api.setAppDetails(company, app, version);
    m_api.setAppcastUrl(url.toLocal8Bit().constData());
    m_api.setAutomaticCheckForUpdates(1);
    m_api.setUpdateCheckInterval(86400);
    m_api.init();
}

SparkleUpdater::~SparkleUpdater()
{
    m_api.cleanup();
}

void SparkleUpdater::checkUpdate()
{
    m_api.checkUpdateWithUi();
}
