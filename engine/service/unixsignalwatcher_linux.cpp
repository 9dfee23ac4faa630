// The handler writes the signal's number into a socket pair that a
// QSocketNotifier reads on the owner's thread.
#include "service/unixsignalwatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
int pipeFds[2] = {-1, -1};
const int watchedSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (pipeFds[0] >= 0)
        (void)::write(pipeFds[0], &byte, 1);
    errno = savedErrno;
}
} // namespace

UnixSignalWatcher::UnixSignalWatcher(QObject *parent)
    : QObject(parent)
{
    if (pipeFds[0] >= 0)
        return; // one watcher per process
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeFds) != 0) {
        pipeFds[0] = pipeFds[1] = -1;
        return;
    }
    notifier = new QSocketNotifier(pipeFds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &UnixSignalWatcher::readSignal);
    for (int signalNumber : watchedSignals) {
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

UnixSignalWatcher::~UnixSignalWatcher()
{
    if (!notifier)
        return;
    for (int signalNumber : watchedSignals) {
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        ::sigaction(signalNumber, &action, nullptr);
    }
    delete notifier;
    notifier = nullptr;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void UnixSignalWatcher::ignoreBrokenPipe()
{
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

void UnixSignalWatcher::readSignal()
{
    unsigned char byte = 0;
    while (::read(pipeFds[1], &byte, 1) == 1) {
        if (byte == SIGHUP)
            emit hangUp();
        else
            emit terminationRequested(byte);
    }
}
