// The process check through the system's tasklist tool.
#include "monitor/processwatcher.h"

#include <QProcess>

namespace
{
constexpr int alive = 0;
constexpr int notAlive = 1;

// Runs the tool to its end and returns its listing; false when it did not.
bool runTool(QProcess *runner, const QStringList &arguments, QString *listing)
{
    // A run left over from an earlier call that timed out is ended first.
    while (runner->state() != QProcess::NotRunning) {
        runner->kill();
        runner->waitForFinished(2000);
    }
    runner->close();
    runner->setProcessChannelMode(QProcess::SeparateChannels);
    runner->start(QStringLiteral("tasklist"), arguments, QIODevice::ReadWrite);
    if (!runner->waitForStarted(3000))
        return false;
    if (!runner->waitForFinished(3000))
        return false;
    QByteArray out = runner->readAllStandardOutput();
    const int nul = out.indexOf('\0');
    if (nul >= 0)
        out.truncate(nul);
    *listing = QString::fromLatin1(out).trimmed();
    return true;
}
} // namespace

bool ProcessWatcher::resolveOwner()
{
    return true; // the listing covers every user
}

int ProcessWatcher::check(const QString &name)
{
    const QStringList filters = {QStringLiteral("/FI"),
                                 QStringLiteral("IMAGENAME eq %1").arg(name)};
    const QStringList format = {QStringLiteral("/FO"), QStringLiteral("CSV"),
                                QStringLiteral("/NH")};
    if (!m_runner)
        m_runner = new QProcess(this);
    QString listing;
    if (!runTool(m_runner, filters + format, &listing))
        return notAlive;
    if (!listing.contains(name, Qt::CaseSensitive))
        return notAlive;
    m_runner->close();
    if (!runTool(
            m_runner,
            filters +
                QStringList{QStringLiteral("/FI"), QStringLiteral("STATUS eq NOT RESPONDING")} +
                format,
            &listing))
        return notAlive;
    return listing.contains(name, Qt::CaseSensitive) ? notAlive : alive;
}
