#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// ping-standin.sh as `ping` in a directory of its own, put first on PATH for
// the object's life: loopback targets get the real tool, others fail at once;
// it can be made to fail, stall or answer with given output instead.
class PingStandIn
{
public:
    PingStandIn();
    ~PingStandIn();
    PingStandIn(const PingStandIn &) = delete;
    PingStandIn &operator=(const PingStandIn &) = delete;

    bool installed() const { return m_installed; }
    // Every run fails at once.
    void setDown(bool down);
    // Every run first sleeps this many seconds; empty: none.
    void setSlow(const QByteArray &seconds);
    // Every run prints `out` and `err` (printf formats) and exits with `code`
    // instead of running the real tool.
    void setReply(const QByteArray &out, const QByteArray &err, int code);
    // No ping anywhere on PATH, or the stand-in first again.
    void setHidden(bool hidden);

    // The arguments and the process id of the last run (0 before any).
    QStringList arguments() const;
    qint64 pid() const;

private:
    void setFile(const QString &name, const QByteArray *content);

    QTemporaryDir m_dir;
    QTemporaryDir m_empty;
    QByteArray m_path;
    bool m_installed = false;
};
