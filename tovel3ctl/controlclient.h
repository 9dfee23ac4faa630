#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

class QTextStream;

// tovel3ctl: reads the command line, sends one request to a running
// tovel3d or desktop tovel3 over its control socket, and prints the answer.
class ControlClient
{
public:
    enum ExitCode { Done = 0, Failed = 1, Usage = 2, NoInstance = 3 };

    static constexpr int TimeoutMs = 10000;

    ControlClient(QTextStream &out, QTextStream &err);

    // `arguments` without the program name; returns the exit code.
    int run(const QStringList &arguments);

    // Where to look without --socket: the socket of the system service when
    // it exists ($RUNTIME_DIRECTORY/control under systemd, otherwise
    // /run/tovel3/control), else the desktop instance's of this user.
    static QString defaultSocket();
    static QString systemSocket();
    static QString desktopSocket();

    static QString usage();

private:
    int usageError(const QString &text);
    int failure(const QString &text);
    // Sends the request; the reply or the exit code of what went wrong.
    int exchange(const QJsonObject &request, QJsonObject *reply);

    QTextStream &m_out;
    QTextStream &m_err;
    QString m_socket;
};
