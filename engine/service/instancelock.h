#pragma once

#include <QString>

#include <memory>

class QLockFile;

// One running watchdog per settings file, whichever program runs it (the
// desktop program, the service, or the desktop program without a display):
// two would feed one board twice and write one journal from two processes.
// The lock lives in the runtime directory, named after the settings file.
class InstanceLock
{
public:
    InstanceLock(const QString &runtimeDir, const QString &settingsFile);
    ~InstanceLock();

    // False when another process holds it; holder() then says which.
    bool tryLock();
    QString holder() const { return m_holder; }
    QString path() const { return m_path; }

private:
    QString m_path;
    QString m_settingsFile;
    QString m_holder;
    std::unique_ptr<QLockFile> m_lock;
};
