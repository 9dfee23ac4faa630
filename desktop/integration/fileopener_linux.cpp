// xdg-open, run here so that its exit code tells whether it found a program.
#include "integration/fileopener.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

bool FileOpener::startWatchedOpener(const QString &target)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return false;
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
    return true;
}
