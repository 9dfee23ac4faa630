#include "sparkleupdater.h"

#include <QCoreApplication>

// The part of WinSparkle's C interface used here, as its DLL exports it
// (winsparkle.h declares the same; only the import library is needed).
extern "C" {
__declspec(dllimport) void __cdecl win_sparkle_init();
__declspec(dllimport) void __cdecl win_sparkle_cleanup();
__declspec(dllimport) void __cdecl win_sparkle_set_app_details(const wchar_t *company_name,
                                                               const wchar_t *app_name,
                                                               const wchar_t *app_version);
__declspec(dllimport) void __cdecl win_sparkle_set_appcast_url(const char *url);
__declspec(dllimport) void __cdecl win_sparkle_set_automatic_check_for_updates(int state);
__declspec(dllimport) void __cdecl win_sparkle_set_update_check_interval(int interval);
__declspec(dllimport) void __cdecl win_sparkle_check_update_with_ui();
}

namespace
{
// Longer texts are cut to what the fixed buffers hold, terminator included.
template <int N> void fill(wchar_t (&buffer)[N], const QString &text)
{
    const int n = text.left(N - 1).toWCharArray(buffer);
    buffer[n] = L'\0';
}
} // namespace

SparkleUpdater::SparkleUpdater(const QString &url)
{
    wchar_t company[128];
    wchar_t app[128];
    wchar_t version[32];
    fill(company, QCoreApplication::organizationName());
    fill(app, QCoreApplication::applicationName());
    fill(version, QCoreApplication::applicationVersion());
    win_sparkle_set_app_details(company, app, version);
    win_sparkle_set_appcast_url(url.toLocal8Bit().constData());
    win_sparkle_set_automatic_check_for_updates(1);
    win_sparkle_set_update_check_interval(86400);
    win_sparkle_init();
}

SparkleUpdater::~SparkleUpdater()
{
    win_sparkle_cleanup();
}

void SparkleUpdater::checkUpdate()
{
    win_sparkle_check_update_with_ui();
}
