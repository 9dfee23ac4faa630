#pragma once

#include "update/brennicupdater.h"

#include <QString>

// The part of WinSparkle's C interface used here, as the functions its DLL
// exports. The program is not linked against the library: whoever loads it
// fills this table.
struct WinSparkleApi {
    void(__cdecl *init)();
    void(__cdecl *cleanup)();
    void(__cdecl *setAppDetails)(const wchar_t *companyName, const wchar_t *appName,
                                 const wchar_t *appVersion);
    void(__cdecl *setAppcastUrl)(const char *url);
    void(__cdecl *setAutomaticCheckForUpdates)(int state);
    void(__cdecl *setUpdateCheckInterval)(int interval);
    void(__cdecl *checkUpdateWithUi)();
};

// The update mechanism on Windows: WinSparkle, configured once per run for a
// daily automatic check; its own dialogues show and install updates.
class SparkleUpdater : public BrennicUpdater
{
public:
    SparkleUpdater(const WinSparkleApi &api, const QString &url);
    ~SparkleUpdater() override;

    // Loads the library from `path` (it stays loaded until the process
    // ends) and fills `api`; false, with nothing filled, when the file is
    // missing or lacks one of the functions.
    static bool load(const QString &path, WinSparkleApi *api);

    void checkUpdate() override;

private:
    WinSparkleApi m_api;
};
