#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

class ControlConnection;
class ControlServer;
class QTextStream;

// The control commands, each declared once for both ends: its name on
// tovel3ctl's command line and in the request, its arguments, what the
// client puts into the request, how the server answers it and how the client
// prints the answer.
struct ControlCommand {
    enum Option { NoOption = 0, Json = 1, Confirm = 2 };

    const char *name;      // on the command line: "status", "board set"
    const char *request;   // the request's "cmd"
    const char *arguments; // for the usage text
    const char *summary;   // for the usage text
    int options;           // which of --json and --yes it takes
    // What the command does, said when --yes is missing.
    const char *confirmation;
    // tovel3ctl: the request's further fields from the words after the name;
    // returns the usage error, or an empty text.
    QString (*build)(const QStringList &words, QJsonObject *request);
    // tovel3ctl: prints an answer that says "ok".
    void (*print)(const QJsonObject &reply, const QStringList &words, bool json, QTextStream &out);
    // The server's handler of the request.
    void (ControlServer::*handle)(ControlConnection *client, const QJsonObject &request);
};

namespace ControlCommands
{
const std::vector<ControlCommand> &all();
// By the words of a command line ("board", "set", ...): the command and how
// many words its name takes; nullptr if there is none.
const ControlCommand *byWords(const QStringList &words, int *nameWords);
const ControlCommand *byRequest(const QString &request);
// The commands' part of tovel3ctl's usage text.
QString usage();
} // namespace ControlCommands
