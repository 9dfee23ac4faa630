#pragma once

#include <QObject>
#include <QProcess>
#include <QString>

// Asks the system's ping tool whether an address answers one echo request
// within `timeout` milliseconds. `start` never blocks; `finished()` follows
// once per run that started.
class PingProcess : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int timeout READ timeout WRITE setTimeout)

public:
    explicit PingProcess(QObject *parent = nullptr);
    ~PingProcess() override;

    // The tool's arguments for one probe (without the program name).
    static QStringList arguments(const QString &address, int timeoutMs);

signals:
    void finished();

private slots:
    void runner_finished(int code, QProcess::ExitStatus exitStatus);

public:
    Q_INVOKABLE int timeout() const;
    Q_INVOKABLE void setTimeout(int ms);
    Q_INVOKABLE void start(const QString &address);
    Q_INVOKABLE QString output() const;
    Q_INVOKABLE int exitCode() const;

private:
    // The platform's half of a run: the tool's arguments for a target and a
    // wait already settled, and what the run needs before it starts (false
    // when the address must not reach the tool; finished() then follows).
    static QStringList toolArguments(const QString &target, int waitMs);
    bool prepareRun(const QString &address);
    // And of its end: whether what the tool printed, after it exited with 0,
    // holds an answer to the echo request.
    static bool showsReply(const QByteArray &output);

    QProcess *m_runner;
    int m_exitCode = 255;
    QString m_output = QStringLiteral("Not Running");
    int m_timeout = 1000;
    bool m_killed = false;
    bool m_startFailed = false;
};
