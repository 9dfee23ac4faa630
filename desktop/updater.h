#pragma once

#include <QObject>
#include <QString>

class BrennicUpdater;

// The update element of the interface: it owns the platform's update
// mechanism and passes the page's requests on to it.
class Updater : public QObject
{
    Q_OBJECT

public:
    explicit Updater(QObject *parent = nullptr);
    ~Updater() override;

    // The feed read when the settings name none.
    static QString defaultFeedUrl();
    BrennicUpdater *updaterBackend() const { return backend; }

signals:
    void newVersion(const QString &version, const QString &changelog);
    // Rich text about an update being installed, or why it was not.
    void updateStatus(const QString &text);

public slots:
    void checkUpdate();

public:
    Q_INVOKABLE void doUpdate();

private:
    BrennicUpdater *backend = nullptr;
};
