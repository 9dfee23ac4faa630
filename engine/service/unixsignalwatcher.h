#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into queued signals on the GUI thread, so
// that a termination request ends the event loop normally and a hang-up
// (a daemon's request to reload) is handled as its owner decides. The
// handler only writes the signal number into a pipe; everything else happens
// in Qt. On Windows it stays inactive (the halves are
// unixsignalwatcher_<system>.cpp).
class UnixSignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit UnixSignalWatcher(QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

    bool isActive() const { return notifier != nullptr; }

    // Ignores SIGPIPE for the process: when whatever reads its output goes
    // away (a pipe into head or tee, a closed terminal, a log collector), the
    // next console line must not end it. Called first thing in main.
    static void ignoreBrokenPipe();

signals:
    // SIGTERM or SIGINT
    void terminationRequested(int signalNumber);
    // SIGHUP
    void hangUp();

private:
    void readSignal();

    QSocketNotifier *notifier = nullptr;
};
