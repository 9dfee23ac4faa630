#include "service/systemdnotifier.h"

#ifdef TOVEL3_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

SystemdNotifier::SystemdNotifier(QObject *parent)
    : QObject(parent)
{
}

bool SystemdNotifier::isActive()
{
#ifdef TOVEL3_HAVE_SYSTEMD
    return !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
#else
    return false;
#endif
}

qint64 SystemdNotifier::watchdogInterval()
{
#ifdef TOVEL3_HAVE_SYSTEMD
    // Checks WATCHDOG_PID too: a child started with our environment does not
    // count as the watched process.
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0)
        return qint64(usec / 1000);
#endif
    return 0;
}

void SystemdNotifier::ready()
{
    send("READY=1");
}

void SystemdNotifier::status(const QString &text)
{
    // The protocol is one assignment per line.
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    send("STATUS=" + line.toUtf8());
}

void SystemdNotifier::watchdog()
{
    if (watchdogInterval() > 0)
        send("WATCHDOG=1");
}

void SystemdNotifier::stopping()
{
    send("STOPPING=1");
}

void SystemdNotifier::send(const QByteArray &state)
{
#ifdef TOVEL3_HAVE_SYSTEMD
    if (isActive())
        sd_notify(0, state.constData());
#else
    Q_UNUSED(state)
#endif
}
