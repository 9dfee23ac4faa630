#include "control/controlcommands.h"

#include "control/controlserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

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

void printJson(const QJsonObject &object, QTextStream &out)
{
    out << QJsonDocument(object).toJson(QJsonDocument::Compact) << "\n";
}

void printStatus(const QJsonObject &reply, const QStringList &, bool json, QTextStream &out)
{
    const QJsonObject s = reply.value(QStringLiteral("status")).toObject();
    if (json) {
        printJson(s, out);
        return;
    }
    const auto line = [&out](const char *label, const QString &value) {
        out << QString::fromLatin1(label).leftJustified(16) << value << "\n";
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

void printBoard(const QJsonObject &reply, const QStringList &, bool json, QTextStream &out)
{
    if (json) {
        printJson(reply, out);
        return;
    }
    out << reply.value(QStringLiteral("model")).toString() << " on "
        << reply.value(QStringLiteral("port")).toString() << "\n";
    const QJsonArray parameters = reply.value(QStringLiteral("parameters")).toArray();
    for (const QJsonValue &v : parameters) {
        const QJsonObject p = v.toObject();
        const QString setting = p.value(QStringLiteral("key")).toString() + QLatin1Char('=') +
                                p.value(QStringLiteral("value")).toString();
        out << "  " << setting.leftJustified(24) << "  "
            << p.value(QStringLiteral("description")).toString() << "\n";
    }
}

QString noArguments(const QStringList &words, QJsonObject *request)
{
    if (words.isEmpty())
        return QString();
    return QStringLiteral("%1 takes no arguments")
        .arg(request->value(QStringLiteral("cmd")).toString());
}

QString ledArguments(const QStringList &words, QJsonObject *request)
{
    if (words.size() != 1 ||
        (words.first() != QLatin1String("on") && words.first() != QLatin1String("off")))
        return QStringLiteral("led takes on or off");
    request->insert(QStringLiteral("on"), words.first() == QLatin1String("on"));
    return QString();
}

QString boardArguments(const QStringList &words, QJsonObject *)
{
    if (!words.isEmpty())
        return QStringLiteral("board takes no arguments but set KEY=VALUE...");
    return QString();
}

QString boardSetArguments(const QStringList &words, QJsonObject *request)
{
    if (words.isEmpty())
        return QStringLiteral("board set needs KEY=VALUE");
    for (const QString &w : words) {
        if (w.indexOf(QLatin1Char('=')) <= 0)
            return QStringLiteral("%1 is not KEY=VALUE").arg(w);
    }
    request->insert(QStringLiteral("values"), QJsonArray::fromStringList(words));
    return QString();
}

QString confirmed(const QStringList &words, QJsonObject *request)
{
    const QString error = noArguments(words, request);
    if (error.isEmpty())
        request->insert(QStringLiteral("confirm"), true);
    return error;
}

template <const char *text>
void say(const QJsonObject &, const QStringList &, bool, QTextStream &out)
{
    out << text << "\n";
}
constexpr char suspended[] = "board suspended: its clock stands until 'tovel3ctl resume'";
constexpr char resumed[] = "board resumed";
constexpr char resetRequested[] = "reset requested";
constexpr char powerRequested[] = "hard reset requested";

void printLed(const QJsonObject &, const QStringList &words, bool, QTextStream &out)
{
    out << "green LED " << words.value(0) << "\n";
}
} // namespace

const std::vector<ControlCommand> &ControlCommands::all()
{
    using S = ControlServer;
    static const std::vector<ControlCommand> commands{
        {"status", "status", "[--json]", "board, heartbeat and checks", ControlCommand::Json,
         nullptr, noArguments, printStatus, &S::answerStatus},
        {"suspend", "suspend", "", "stop the board's clock (maintenance)", ControlCommand::NoOption,
         nullptr, noArguments, say<suspended>, &S::answerSuspend},
        {"resume", "resume", "", "start the board's clock again", ControlCommand::NoOption, nullptr,
         noArguments, say<resumed>, &S::answerResume},
        {"led", "led", "on|off", "the board's green LED", ControlCommand::NoOption, nullptr,
         ledArguments, printLed, &S::answerLed},
        {"board", "board", "[--json]", "the board's parameters", ControlCommand::Json, nullptr,
         boardArguments, printBoard, &S::answerBoard},
        {"board set", "board-set", "KEY=VALUE...",
         "write parameters, e.g. reset-time=10min ch1=reset", ControlCommand::NoOption, nullptr,
         boardSetArguments, printBoard, &S::answerBoardSet},
        {"test-reset", "test-reset", "--yes", "reset this PC through the board now",
         ControlCommand::Confirm, "test-reset makes the board reset this PC at once", confirmed,
         say<resetRequested>, &S::answerTestReset},
        {"test-power", "test-power", "--yes", "hard-reset this PC through the board now",
         ControlCommand::Confirm,
         "test-power makes the board hard-reset this PC (power button) at once", confirmed,
         say<powerRequested>, &S::answerTestPower},
    };
    return commands;
}

const ControlCommand *ControlCommands::byWords(const QStringList &words, int *nameWords)
{
    // The longest name that matches: "board set" rather than "board".
    const ControlCommand *found = nullptr;
    for (const ControlCommand &command : all()) {
        const QStringList name = QString::fromLatin1(command.name).split(QLatin1Char(' '));
        if (words.mid(0, name.size()) == name && (!found || name.size() > *nameWords)) {
            *nameWords = name.size();
            found = &command;
        }
    }
    return found;
}

const ControlCommand *ControlCommands::byRequest(const QString &request)
{
    for (const ControlCommand &command : all()) {
        if (request == QLatin1String(command.request))
            return &command;
    }
    return nullptr;
}

QString ControlCommands::usage()
{
    QString text;
    for (const ControlCommand &command : all()) {
        QString head = QString::fromLatin1(command.name);
        if (*command.arguments)
            head += QLatin1Char(' ') + QString::fromLatin1(command.arguments);
        text += QStringLiteral("  %1%2\n")
                    .arg(head.leftJustified(26), QString::fromLatin1(command.summary));
    }
    return text;
}
