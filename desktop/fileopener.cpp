#include "fileopener.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
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

void FileOpener::open(const QString &path)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty()) {
        auto *process = new QProcess(this);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
                [this, process, path, clock](int code, QProcess::ExitStatus status) {
                    if ((status != QProcess::NormalExit || code != 0) && clock.elapsed() < watchMs)
                        emit failed(path);
                    process->deleteLater();
                });
        connect(process, &QProcess::errorOccurred, this,
                [this, process, path](QProcess::ProcessError error) {
                    if (error != QProcess::FailedToStart)
                        return;
                    emit failed(path);
                    process->deleteLater();
                });
        process->start(opener, {path});
        return;
    }
#endif
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        emit failed(path);
}
