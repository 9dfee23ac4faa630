#include "integration/fileopener.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

FileOpener::FileOpener(QObject *parent)
    : QObject(parent)
{
}

FileOpener::~FileOpener()
{
    // An opener still running waits for the program it started; ending it
    // leaves that program open.
    for (QProcess *process : findChildren<QProcess *>()) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished(1000);
    }
}

bool FileOpener::isFile(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

void FileOpener::open(const QString &target)
{
    if (startWatchedOpener(target))
        return;
    const bool isPage =
        target.startsWith(QLatin1String("https://")) || target.startsWith(QLatin1String("http://"));
    if (QDesktopServices::openUrl(isPage ? QUrl(target) : QUrl::fromLocalFile(target)))
        emit opened(target);
    else
        emit failed(target);
}
