#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The control socket's protocol: one JSON object per line each way. A
// request names its command in "cmd" ("status", "suspend", "resume",
// "led" with "on", "board", "board-set" with "values" (["key=value", ...]),
// "test-reset" and "test-power" with "confirm": true). A reply carries
// "ok"; a refusal or failure says why in "error".
namespace ControlProtocol
{
// Longest request line the service reads.
constexpr int MaxRequestLength = 4096;
// Longest reply line a client reads.
constexpr int MaxReplyLength = 65536;

QByteArray encode(const QJsonObject &message); // compact, with "\n"
// A line without its "\n"; false unless it is one JSON object.
bool decode(const QByteArray &line, QJsonObject *message);
QJsonObject failure(const QString &error);
} // namespace ControlProtocol
