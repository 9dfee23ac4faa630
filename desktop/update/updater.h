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
    // Whether every check ends in newVersion(), upToDate() or checkFailed();
    // a back-end with a user interface of its own tells the user there.
    Q_PROPERTY(bool reportsOutcome READ reportsOutcome CONSTANT)

public:
    explicit Updater(QObject *parent = nullptr);
    ~Updater() override;

    // The feed read when the settings name none: the one of this system.
    static QString defaultFeedUrl();
    // The maker's download page: the only page offered when an update
    // cannot be installed by itself.
    static QUrl downloadPageUrl();
    BrennicUpdater *updaterBackend() const { return backend; }
    bool reportsOutcome() const;

signals:
    // The version and its release notes, both plain text.
    void newVersion(const QString &version, const QString &changelog);
    // The feed was read and names no newer version.
    void upToDate();
    // The check could not be made: why, as plain text.
    void checkFailed(const QString &reason);
    // Plain text about an update installation: under way, done or not.
    void updateStatus(const QString &text);

public slots:
    void checkUpdate();

public:
    Q_INVOKABLE void doUpdate();

private:
    // The system's half (updater_<system>.cpp): an update mechanism of the
    // system's own, when one is installed (null otherwise: the appcast is
    // read), and the folder of this system's feed on the update server.
    static BrennicUpdater *systemBackend(const QString &feedUrl);
    static QLatin1String feedFolder();

    BrennicUpdater *backend = nullptr;
};
