#include "update/sparkleupdater.h"

#include <QCoreApplication>

namespace
{
// Longer texts are cut to what the fixed buffers hold, terminator included.
template <int N> void fill(wchar_t (&buffer)[N], const QString &text)
{
    const int n = text.left(N - 1).toWCharArray(buffer);
    buffer[n] = L'\0';
}
} // namespace

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
