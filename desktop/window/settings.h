#pragma once

#include <QObject>
#include <QString>

class QSettings;

// The tray menu's export and import of the per-user store: the whole store
// to an INI file, and an INI file merged back into it. Both take a file URL
// and say whether they succeeded.
class SettingsTransfer : public QObject
{
    Q_OBJECT
public:
    explicit SettingsTransfer(QObject *parent = nullptr);
    ~SettingsTransfer() override;

    // A name without the ".ini" extension gets it. False when nothing could
    // be written (no file URL, no regular file, a failed write).
    Q_INVOKABLE bool exportSettings(const QString &file);
    // False, with the store unchanged, for anything that is no INI file, and
    // when the merged values could not be committed.
    Q_INVOKABLE bool importSettings(const QString &file);

private:
    QSettings *m_store;
};
