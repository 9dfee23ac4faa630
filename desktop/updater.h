#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class BrennicUpdater;

// The update element of the interface: it owns the platform's update
// mechanism and passes the page's requests on to it.
class Updater : public QObject
{
    Q_OBJECT

public:
    explicit Updater(QObject *parent = nullptr);
    ~Updater() override;

    // The feed read when the settings name none: the one of this system.
    static QString defaultFeedUrl();
    // The maker's download page: the only page offered when an update
    // cannot be installed by itself.
    static QUrl downloadPageUrl();
    BrennicUpdater *updaterBackend() const { return backend; }

signals:
    // The version and its release notes, both plain text.
    void newVersion(const QString &version, const QString &changelog);
    // Plain text about an update check or installation that went wrong, or
    // about an update being installed.
    void updateStatus(const QString &text);

public slots:
    void checkUpdate();

public:
    Q_INVOKABLE void doUpdate();

private:
    BrennicUpdater *backend = nullptr;
};
