#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a queued signal on the GUI thread, so
// that a termination request ends the event loop normally. The handler only
// writes the signal number into a pipe; everything else happens in Qt.
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
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *notifier = nullptr;
};
