#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

// The ASCII protocol of the watchdog boards: the models, the command
// encoders, the reply decoder and the framing of replies. Plain functions and
// value types; the port and the state live in Board.
//
// Commands are "~" + an upper-case letter + arguments, without terminator;
// replies are "~" + a letter + fields, each ended by "\n".
namespace BoardProtocol
{

// One row per board model. A new model is a new row here (plus the
// simulator and the translations); nothing else knows the models.
struct BoardModel {
    char letter;            // type letter of the "~I" reply; 0 for a model never identified by it
    QString name;           // display name, also in the journal
    int channels;           // output channels
    int settingsLength;     // length of its "~F" reply ("~F" included); 0: settings never read
    bool hasInput;          // the IN channel, read with "~G" after each heartbeat
    bool hasPowerOutput;    // remote power (hard reset) command
    QByteArray remoteReset; // remote reset command
    QByteArray remotePower; // remote power command, empty without a power output
    const char *connectedText; // journal text, %1 = version and letter (translated, context Board)
    bool compatibility;        // served only in compatibility mode (see below)
    int compatibilityT1Max;    // compatibility mode: t1 written as one decimal digit up to this
};

// Every model, the compatibility-mode one last.
const QVector<BoardModel> &models();
// The identified model of a type letter; nullptr for an unknown letter.
const BoardModel *modelForLetter(char letter);
// The old one-channel board served in compatibility mode: it answers the
// heartbeat, the handshake and "~I" like the others, but its settings are
// never read and only t1 is written, as "~W" + one decimal digit + "\n"
// (after a port change followed by "~I").
const BoardModel &compatibilityModel();

// ---------------------------------------------------------------------------
// Value types

struct BoardIdentity {
    QString version; // three characters
    char letter = 0;
    // Version and letter, as the journal shows them ("1.2U").
    QString text() const { return version + QLatin1Char(letter); }
};

// The timing settings as indices into the lists of settingsFields().
struct BoardSettings {
    Q_GADGET
public:
    enum Form { Invalid, Short, Long };
    Q_ENUM(Form)
    static constexpr int FieldCount = 10;

    Form form = Invalid;
    int t1 = -1, t2 = -1, t3 = -1, t4 = -1, t5 = -1; // box index, -1 = none
    int p6 = -1, p7 = -1, p8 = -1, p9 = -1;          // box index, -1 = none
    int p10 = -1; // temperature threshold 0..125, -1 = keep the current one

    // Field i in the order t1..t5, p6..p10.
    int field(int i) const;
    void setField(int i, int value);
    bool operator==(const BoardSettings &other) const;
    bool operator!=(const BoardSettings &other) const { return !(*this == other); }
};

struct InputReading {
    enum Kind { None, Input, Output, Temperature }; // None: not available
    Kind kind = None;
    char level = 0; // Input/Output: the level character ('0' or '1')
    int tenths = 0; // Temperature: tenths of a degree Celsius
    // Degrees in the shortest decimal form: "23.5", "23", "-5.5".
    QString temperatureText() const { return QString::number(tenths / 10.0); }
};

// ---------------------------------------------------------------------------
// Settings page lists: value and unit per index, for views and command lines.

struct Choice {
    int number;       // numeric value, or -1 for a named choice
    const char *unit; // "min", "ms", "s" or "" (English, untranslated)
    const char *name; // named choice ("OFF", "RESET" ...), nullptr for a number
    // "10 min", "RESET" (English).
    QString text() const;
};

struct SettingsField {
    const char *key;         // "t1" .. "p10"
    QVector<Choice> choices; // index = box index; empty for a plain number
    int minimum;             // plain number: its range
    int maximum;
};

// The ten fields of BoardSettings in order t1..t5, p6..p10.
const QVector<SettingsField> &settingsFields();
// Index of the choice of field `field` written as `text` ("10min", "10 min",
// "reset", "OUT CLOSED"; case and spaces do not matter); for the plain
// number field the number itself. -1 when nothing matches.
int choiceIndex(int field, const QString &text);

// ---------------------------------------------------------------------------
// Commands

QByteArray heartbeat(const BoardModel *model);   // "~U", or "~U~G" with an input
QByteArray handshake(bool led, bool suspended);  // "~L1~P0"
QByteArray led(bool on);                         // "~L1" / "~L0"
QByteArray suspend(bool on);                     // "~P1" / "~P0"
QByteArray testReset();                          // "~T1"
QByteArray testPower();                          // "~T2"
QByteArray remoteReset(const BoardModel *model); // "~M1" (X2), "~T1" otherwise
QByteArray channel(int n, bool closed);          // "~S1" closes, "~R2" opens
QByteArray identify();                           // "~I"
QByteArray readSettings();                       // "~F"
// "~W" + t1..p9 as one upper-case hex digit each (an index outside 0..15 as
// "0") + p10 as lower-case hex of at least two digits; the short form is
// "~W" + t1 + t2.
QByteArray writeSettings(const BoardSettings &settings);
// Compatibility mode: "~W" + t1 as one decimal digit (0..9) + "\n", then
// "~I" when `identify`.
QByteArray legacyWrite(int t1, bool identify);
QByteArray firmwareUpdate(); // "~D"

// ---------------------------------------------------------------------------
// Replies

struct Reply {
    enum Kind {
        Ignored,
        Ack,
        Settings,
        Led,
        Suspend,
        Identity,
        Input,
        ChannelClosed,
        ChannelOpened
    };
    Kind kind = Ignored;
    bool on = false; // Led, Suspend
    int channel = 0; // ChannelClosed, ChannelOpened: 1 or 2
    BoardIdentity identity;
    BoardSettings settings; // form Invalid for a "~F" of another length
    InputReading input;
};

// One reply without its "\n".
Reply parseReply(const QByteArray &piece);

// Collects received bytes into "\n"-terminated replies. An unterminated run
// longer than the buffer bound is dropped. The tail (bytes after the last
// "\n") is kept for the next chunk; a board that omits the "\n" is served by
// taking the tail after a quiet time (the caller's timer).
class ReplyFramer
{
public:
    static constexpr int MaxBuffer = 4096;

    // Complete replies in `bytes` (with what was buffered), without "\n";
    // empty lines are left out.
    QList<QByteArray> feed(const QByteArray &bytes);
    bool hasTail() const { return !m_buffer.isEmpty(); }
    QByteArray takeTail();
    void clear()
    {
        m_buffer.clear();
        m_discarding = false;
    }

private:
    QByteArray m_buffer;
    bool m_discarding = false; // inside an over-long run, until its "\n"
};

} // namespace BoardProtocol
