#pragma once

#include "brennicupdater.h"

#include <QString>

// The update mechanism on Windows: WinSparkle, configured once per run for a
// daily automatic check; its own dialogues show and install updates.
class SparkleUpdater : public BrennicUpdater
{
public:
    explicit SparkleUpdater(const QString &url);
    ~SparkleUpdater() override;

    void checkUpdate() override;
};
