// Nothing to do on Windows: the watcher stays inactive, and there is no SIGPIPE to ignore.
#include "service/unixsignalwatcher.h"

UnixSignalWatcher::UnixSignalWatcher(QObject *parent)
    : QObject(parent)
{
}

UnixSignalWatcher::~UnixSignalWatcher() = default;

void UnixSignalWatcher::ignoreBrokenPipe() {}

void UnixSignalWatcher::readSignal() {}
