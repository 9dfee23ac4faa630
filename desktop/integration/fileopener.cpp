#include "integration/fileopener.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
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
    const bool isPage =
        target.startsWith(QLatin1String("https://")) || target.startsWith(QLatin1String("http://"));
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty()) {
        auto *process = new QProcess(this);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        // Told once: when the opener ends, or when it still runs after watchMs.
        auto *watch = new QTimer(process);
        watch->setSingleShot(true);
        connect(watch, &QTimer::timeout, this, [this, target] { emit opened(target); });
        connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
                [this, process, target, watch](int code, QProcess::ExitStatus status) {
                    if (watch->isActive()) {
                        watch->stop();
                        if (status == QProcess::NormalExit && code == 0)
                            emit opened(target);
                        else
                            emit failed(target);
                    }
                    process->deleteLater();
                });
        connect(process, &QProcess::errorOccurred, this,
                [this, process, target, watch](QProcess::ProcessError error) {
                    if (error != QProcess::FailedToStart)
                        return;
                    watch->stop();
                    emit failed(target);
                    process->deleteLater();
                });
        watch->start(watchMs);
        process->start(opener, {target});
        return;
    }
#endif
    if (QDesktopServices::openUrl(isPage ? QUrl(target) : QUrl::fromLocalFile(target)))
        emit opened(target);
    else
        emit failed(target);
}
