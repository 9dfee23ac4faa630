#include "controlclient.h"

#include "service/instancedirectory.h"

#include "control/controlprotocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTextStream>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace
{
QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString orNone(const QJsonValue &value, const QString &none = QStringLiteral("n/a"))
{
    if (value.isNull() || value.isUndefined())
        return none;
    if (value.isDouble())
        return QString::number(value.toInt());
    return value.toString();
}

QString checkLine(const QJsonObject &check)
{
    if (!check.value(QStringLiteral("enabled")).toBool())
        return QStringLiteral("off");
    const QJsonValue ok = check.value(QStringLiteral("ok"));
    return QStringLiteral("%1, %2").arg(check.value(QStringLiteral("target")).toString(),
                                        ok.toBool() ? QStringLiteral("passing")
                                                    : QStringLiteral("failing"));
}
} // namespace

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
    return QStringLiteral(
        "Usage: tovel3ctl [--socket PATH] COMMAND\n"
        "Controls a running tovel3d service or desktop tovel3.\n"
        "\n"
        "Commands:\n"
        "  status [--json]           board, heartbeat and checks\n"
        "  suspend                   stop the board's clock (maintenance)\n"
        "  resume                    start the board's clock again\n"
        "  led on|off                the board's green LED\n"
        "  board [--json]            the board's parameters\n"
        "  board set KEY=VALUE...    write parameters, e.g. reset-time=10min ch1=reset\n"
        "  test-reset --yes          reset this PC through the board now\n"
        "  test-power --yes          hard-reset this PC through the board now\n"
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
    const QString command = words.takeFirst();
    QJsonObject request{{QStringLiteral("cmd"), command}};
    const bool boardSet = command == QLatin1String("board") && !words.isEmpty() &&
                          words.first() == QLatin1String("set");
    if (json && command != QLatin1String("status") &&
        (command != QLatin1String("board") || boardSet))
        return usageError(QStringLiteral("--json goes with status and board"));
    if (yes && !command.startsWith(QLatin1String("test-")))
        return usageError(QStringLiteral("--yes goes with test-reset and test-power"));

    if (command == QLatin1String("status") || command == QLatin1String("suspend") ||
        command == QLatin1String("resume")) {
        if (!words.isEmpty())
            return usageError(QStringLiteral("%1 takes no arguments").arg(command));
    } else if (command == QLatin1String("led")) {
        if (words.size() != 1 ||
            (words.first() != QLatin1String("on") && words.first() != QLatin1String("off")))
            return usageError(QStringLiteral("led takes on or off"));
        request.insert(QStringLiteral("on"), words.first() == QLatin1String("on"));
    } else if (command == QLatin1String("board")) {
        if (boardSet) {
            words.removeFirst();
            if (words.isEmpty())
                return usageError(QStringLiteral("board set needs KEY=VALUE"));
            for (const QString &w : qAsConst(words)) {
                if (w.indexOf(QLatin1Char('=')) <= 0)
                    return usageError(QStringLiteral("%1 is not KEY=VALUE").arg(w));
            }
            request.insert(QStringLiteral("cmd"), QStringLiteral("board-set"));
            request.insert(QStringLiteral("values"), QJsonArray::fromStringList(words));
        } else if (!words.isEmpty()) {
            return usageError(QStringLiteral("board takes no arguments but set KEY=VALUE..."));
        }
    } else if (command == QLatin1String("test-reset") || command == QLatin1String("test-power")) {
        if (!words.isEmpty())
            return usageError(QStringLiteral("%1 takes no arguments").arg(command));
        if (!yes) {
            return failure(command == QLatin1String("test-reset")
                               ? QStringLiteral("test-reset makes the board reset this PC at "
                                                "once; add --yes to do it")
                               : QStringLiteral("test-power makes the board hard-reset this PC "
                                                "(power button) at once; add --yes to do it"));
        }
        request.insert(QStringLiteral("confirm"), true);
    } else {
        return usageError(QStringLiteral("unknown command %1").arg(command));
    }

    QJsonObject reply;
    const int code = exchange(request, &reply);
    if (code != Done)
        return code;
    if (!reply.value(QStringLiteral("ok")).toBool())
        return failure(reply.value(QStringLiteral("error")).toString());

    if (command == QLatin1String("status")) {
        const QJsonObject status = reply.value(QStringLiteral("status")).toObject();
        if (json)
            m_out << QJsonDocument(status).toJson(QJsonDocument::Compact) << "\n";
        else
            printStatus(status);
    } else if (command == QLatin1String("board")) {
        if (json)
            m_out << QJsonDocument(reply).toJson(QJsonDocument::Compact) << "\n";
        else
            printBoard(reply);
    } else if (command == QLatin1String("suspend")) {
        m_out << "board suspended: its clock stands until 'tovel3ctl resume'\n";
    } else if (command == QLatin1String("resume")) {
        m_out << "board resumed\n";
    } else if (command == QLatin1String("led")) {
        m_out << "green LED " << words.first() << "\n";
    } else if (command == QLatin1String("test-reset")) {
        m_out << "reset requested\n";
    } else if (command == QLatin1String("test-power")) {
        m_out << "hard reset requested\n";
    }
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

void ControlClient::printStatus(const QJsonObject &s)
{
    const auto line = [this](const char *label, const QString &value) {
        m_out << QString::fromLatin1(label).leftJustified(16) << value << "\n";
    };
    line("port:", orNone(s.value(QStringLiteral("port")), QStringLiteral("none")));
    QString model = orNone(s.value(QStringLiteral("model")), QStringLiteral("no board"));
    if (s.value(QStringLiteral("compatibility_mode")).toBool())
        model += QStringLiteral(" (compatibility mode)");
    line("model:", model);
    line("firmware:", orNone(s.value(QStringLiteral("firmware"))));
    line("channels:", orNone(s.value(QStringLiteral("channels"))));
    const QJsonObject input = s.value(QStringLiteral("input")).toObject();
    QString inputText = QStringLiteral("n/a");
    if (!input.isEmpty()) {
        inputText = input.value(QStringLiteral("kind")).toString() + QLatin1Char(' ') +
                    input.value(QStringLiteral("value")).toString();
        if (input.value(QStringLiteral("kind")).toString() == QLatin1String("temperature"))
            inputText += QStringLiteral(" °C");
    }
    line("input:", inputText);
    line("suspended:", yesNo(s.value(QStringLiteral("suspended")).toBool()));
    line("green LED:",
         s.value(QStringLiteral("led")).toBool() ? QStringLiteral("on") : QStringLiteral("off"));
    line("last heartbeat:",
         orNone(s.value(QStringLiteral("last_heartbeat")), QStringLiteral("never")));
    line("last ack:", orNone(s.value(QStringLiteral("last_ack")), QStringLiteral("never")));
    line("heartbeats:", QStringLiteral("%1 sent, %2 acknowledged")
                            .arg(s.value(QStringLiteral("heartbeats_sent")).toInt())
                            .arg(s.value(QStringLiteral("acks_received")).toInt()));
    line("network check:", checkLine(s.value(QStringLiteral("network")).toObject()));
    line("process check:", checkLine(s.value(QStringLiteral("process")).toObject()));
}

void ControlClient::printBoard(const QJsonObject &reply)
{
    m_out << reply.value(QStringLiteral("model")).toString() << " on "
          << reply.value(QStringLiteral("port")).toString() << "\n";
    const QJsonArray parameters = reply.value(QStringLiteral("parameters")).toArray();
    for (const QJsonValue &v : parameters) {
        const QJsonObject p = v.toObject();
        const QString setting = p.value(QStringLiteral("key")).toString() + QLatin1Char('=') +
                                p.value(QStringLiteral("value")).toString();
        m_out << "  " << setting.leftJustified(24) << "  "
              << p.value(QStringLiteral("description")).toString() << "\n";
    }
}
