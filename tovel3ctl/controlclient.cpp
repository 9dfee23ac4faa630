#include "controlclient.h"

#include "service/instancedirectory.h"

#include "control/controlcommands.h"
#include "control/controlprotocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTextStream>

ControlClient::ControlClient(QTextStream &out, QTextStream &err)
    : m_out(out)
    , m_err(err)
{
}

QString ControlClient::systemSocket()
{
    const QString runtime =
        qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    return (runtime.isEmpty() ? QStringLiteral("/run/tovel3") : runtime) +
           QStringLiteral("/control");
}

QString ControlClient::desktopSocket()
{
    // The desktop program (and the service run by hand) listens in the
    // private directory of its instance lock, on Windows on a pipe of the
    // user's session.
    return InstanceDirectory::controlAddress();
}

QString ControlClient::defaultSocket()
{
    const QString system = systemSocket();
    return QFile::exists(system) ? system : desktopSocket();
}

QString ControlClient::usage()
{
    return QStringLiteral("Usage: tovel3ctl [--socket PATH] COMMAND\n"
                          "Controls a running tovel3d service or desktop tovel3.\n"
                          "\n"
                          "Commands:\n") +
           ControlCommands::usage() +
           QStringLiteral(
               "\n"
               "Options:\n"
               "  --socket PATH             the instance's control socket\n"
               "  -h, --help                this text\n"
               "  --version                 the program's version\n"
               "\n"
               "Exit codes: 0 done, 1 refused or failed, 2 usage error, 3 no running instance.\n");
}

int ControlClient::usageError(const QString &text)
{
    m_err << "tovel3ctl: " << text << "\n"
          << "Try 'tovel3ctl --help'.\n";
    m_err.flush();
    return Usage;
}

int ControlClient::failure(const QString &text)
{
    m_err << "tovel3ctl: " << text << "\n";
    m_err.flush();
    return Failed;
}

int ControlClient::run(const QStringList &arguments)
{
    QStringList words;
    bool json = false;
    bool yes = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            m_out << usage();
            return Done;
        } else if (a == QLatin1String("--version")) {
            m_out << "tovel3ctl " << TOVEL3_VERSION << "\n";
            return Done;
        } else if (a == QLatin1String("--socket")) {
            if (++i >= arguments.size())
                return usageError(QStringLiteral("--socket needs a path"));
            m_socket = arguments.at(i);
        } else if (a.startsWith(QLatin1String("--socket="))) {
            m_socket = a.mid(9);
        } else if (a == QLatin1String("--json")) {
            json = true;
        } else if (a == QLatin1String("--yes")) {
            yes = true;
        } else if (a.startsWith(QLatin1Char('-'))) {
            return usageError(QStringLiteral("unknown option %1").arg(a));
        } else {
            words << a;
        }
    }
    if (words.isEmpty())
        return usageError(QStringLiteral("no command given"));
    int nameWords = 0;
    const ControlCommand *command = ControlCommands::byWords(words, &nameWords);
    if (!command)
        return usageError(QStringLiteral("unknown command %1").arg(words.first()));
    if (json && !(command->options & ControlCommand::Json))
        return usageError(QStringLiteral("--json goes with status and board"));
    if (yes && !(command->options & ControlCommand::Confirm))
        return usageError(QStringLiteral("--yes goes with test-reset and test-power"));
    const QStringList rest = words.mid(nameWords);
    QJsonObject request{{QStringLiteral("cmd"), QString::fromLatin1(command->request)}};
    const QString wrong = command->build(rest, &request);
    if (!wrong.isEmpty())
        return usageError(wrong);
    if ((command->options & ControlCommand::Confirm) && !yes)
        return failure(QString::fromLatin1(command->confirmation) +
                       QStringLiteral("; add --yes to do it"));

    QJsonObject reply;
    const int code = exchange(request, &reply);
    if (code != Done)
        return code;
    if (!reply.value(QStringLiteral("ok")).toBool())
        return failure(reply.value(QStringLiteral("error")).toString());

    command->print(reply, rest, json, m_out);
    const QString note = reply.value(QStringLiteral("note")).toString();
    if (!note.isEmpty())
        m_err << "tovel3ctl: " << note << "\n";
    m_out.flush();
    m_err.flush();
    return Done;
}

int ControlClient::exchange(const QJsonObject &request, QJsonObject *reply)
{
    // Without --socket, the system service's place is named too when no
    // instance is found: that is where an administrator expects one.
    QStringList tried{m_socket};
    if (m_socket.isEmpty()) {
        m_socket = defaultSocket();
        tried = QStringList{systemSocket(), m_socket};
    }
    tried.removeAll(QString());
    tried.removeDuplicates();
    QLocalSocket socket;
    socket.connectToServer(m_socket);
    if (!socket.waitForConnected(TimeoutMs)) {
        switch (socket.error()) {
        case QLocalSocket::SocketAccessError:
            return failure(QStringLiteral("permission denied: %1 (the service's socket is for "
                                          "root and the group tovel3, a desktop instance's for "
                                          "its user)")
                               .arg(m_socket));
        case QLocalSocket::ServerNotFoundError:
        case QLocalSocket::ConnectionRefusedError:
            m_err << "tovel3ctl: no running tovel3d or tovel3 found at "
                  << tried.join(QStringLiteral(" nor at ")) << "\n";
            m_err.flush();
            return NoInstance;
        default:
            return failure(
                QStringLiteral("cannot connect to %1: %2").arg(m_socket, socket.errorString()));
        }
    }
    socket.write(ControlProtocol::encode(request));
    QByteArray buffer;
    QElapsedTimer clock;
    clock.start();
    while (!buffer.contains('\n')) {
        const qint64 left = TimeoutMs - clock.elapsed();
        if (buffer.size() > ControlProtocol::MaxReplyLength)
            return failure(QStringLiteral("the answer from %1 is too long").arg(m_socket));
        if (socket.bytesAvailable() == 0 && (left <= 0 || !socket.waitForReadyRead(int(left)))) {
            if (socket.state() != QLocalSocket::ConnectedState)
                return failure(QStringLiteral("%1 closed the connection").arg(m_socket));
            return failure(QStringLiteral("no answer from %1").arg(m_socket));
        }
        buffer += socket.readAll();
    }
    if (!ControlProtocol::decode(buffer.left(buffer.indexOf('\n')), reply))
        return failure(QStringLiteral("%1 answered something else than a reply").arg(m_socket));
    return Done;
}
