#pragma once

#include <QObject>
#include <QString>

// Tells systemd how the service is doing, through the notification socket
// that systemd names in NOTIFY_SOCKET (Type=notify units). Without that
// variable, or on systems without systemd, every call does nothing.
//
// watchdog() is meant to be called by the heartbeat cycle itself, never from
// a timer of its own: a stuck cycle must stop the messages, so that systemd
// restarts the service long before the board resets the PC.
class SystemdNotifier : public QObject
{
    Q_OBJECT
public:
    explicit SystemdNotifier(QObject *parent = nullptr);

    // A notification socket is named.
    static bool isActive();
    // The interval in which systemd expects WATCHDOG=1 (WatchdogSec=), in
    // milliseconds; 0 when the watchdog is off or meant for another process.
    static qint64 watchdogInterval();
    // How often to send WATCHDOG=1 so that every interval sees at least two
    // of them: half the interval; 0 when off.
    static qint64 watchdogPingInterval() { return watchdogInterval() / 2; }

public slots:
    // READY=1: settings read, first cycle scheduled.
    void ready();
    // STATUS=<text>, shown by `systemctl status`; one line.
    void status(const QString &text);
    // WATCHDOG=1, only when systemd asked for it.
    void watchdog();
    // STOPPING=1: the service is shutting down.
    void stopping();

private:
    static void send(const QByteArray &state);
};
