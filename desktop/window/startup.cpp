#include "window/startup.h"

#include "storage/appsettings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstring>

bool Startup::needsOffscreenPlatform(int argc, char **argv)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "-platform") == 0 || std::strcmp(arg, "--platform") == 0 ||
            std::strncmp(arg, "-platform=", 10) == 0 || std::strncmp(arg, "--platform=", 11) == 0)
            return false;
    }
    return !hasDisplay();
}

bool Startup::chooseHeadlessPlatform(int argc, char **argv)
{
    if (!needsOffscreenPlatform(argc, argv))
        return false;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    return true;
}

bool Startup::divertIrregularSettingsFile()
{
    return AppSettings::divertIrregularUserStore();
}
