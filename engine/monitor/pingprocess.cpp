#include "monitor/pingprocess.h"
#include "logging.h"

#include <QDebug>

namespace
{
constexpr int minimumWaitMs = 200;
constexpr int crashCode = 255;
constexpr int noReplyCode = 1;
} // namespace

PingProcess::PingProcess(QObject *parent)
    : QObject(parent)
    , m_runner(new QProcess(this))
{
    connect(m_runner, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &PingProcess::runner_finished);
    connect(m_runner, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        // Once until the tool runs again: every cycle would only repeat it.
        if (!m_startFailed)
            qCWarning(lcChecks) << "ping could not be started:" << m_runner->errorString();
        m_startFailed = true;
    });
}

PingProcess::~PingProcess()
{
    // No result is wanted any more; a kill during teardown must not reach QML.
    disconnect(m_runner, nullptr, this, nullptr);
    while (m_runner->state() != QProcess::NotRunning) {
        m_runner->kill();
        m_runner->waitForFinished(2000);
    }
}

QStringList PingProcess::arguments(const QString &address, int timeoutMs)
{
    const QString target = address.isEmpty() ? QStringLiteral("127.0.0.1") : address;
    const int waitMs = timeoutMs >= minimumWaitMs ? timeoutMs : minimumWaitMs;
    return toolArguments(target, waitMs);
}

int PingProcess::timeout() const
{
    return m_timeout;
}

void PingProcess::setTimeout(int ms)
{
    m_timeout = ms;
}

void PingProcess::start(const QString &address)
{
    if (m_runner->state() != QProcess::NotRunning) {
        // The run may already have ended with success unseen; being stopped,
        // it still counts as a failure.
        m_killed = true;
        m_runner->kill();
        return;
    }
    if (!prepareRun(address))
        return;
    m_runner->setProcessChannelMode(QProcess::SeparateChannels);
    m_runner->start(QStringLiteral("ping"), arguments(address, m_timeout), QIODevice::ReadWrite);
}

QString PingProcess::output() const
{
    return m_output;
}

int PingProcess::exitCode() const
{
    return m_exitCode;
}

void PingProcess::runner_finished(int code, QProcess::ExitStatus exitStatus)
{
    m_startFailed = false;
    const bool killed = m_killed;
    m_killed = false;
    if (exitStatus == QProcess::NormalExit && !killed) {
        const QByteArray out = m_runner->readAllStandardOutput();
        QByteArray text = out + '\n' + m_runner->readAllStandardError();
        const int nul = text.indexOf('\0');
        if (nul >= 0)
            text.truncate(nul);
        m_output = QString::fromUtf8(text);
        // A tool that exits with 0 for a run without a reply (an error
        // message from a router, a timeout) does not make the target
        // reachable.
        m_exitCode = code == 0 && !showsReply(out) ? noReplyCode : code;
    } else {
        m_exitCode = crashCode;
        m_output = QStringLiteral("Crashed");
    }
    emit finished();
}
