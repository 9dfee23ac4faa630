#include "device/boardprotocol.h"

#include <cctype>

namespace BoardProtocol
{

namespace
{
const int longSettingsLength = 13; // "~F" + 9 digits + 2 threshold digits
const int shortSettingsLength = 4; // "~F" + t1 + t2
const int maxThreshold = 125;
const int t3Last = 10; // t3 digits above 11 select this index

int hexValue(const QByteArray &text)
{
    if (text.isEmpty())
        return -1;
    for (char c : text) {
        if (!isxdigit(static_cast<unsigned char>(c)))
            return -1;
    }
    return text.toInt(nullptr, 16);
}

char hexDigit(int index)
{
    return (index < 0 || index >= 16) ? '0' : "0123456789ABCDEF"[index];
}

QVector<Choice> numbers(int count, int step, const char *unit)
{
    QVector<Choice> list;
    for (int i = 0; i < count; ++i)
        list.append({i * step, unit, nullptr});
    return list;
}

QVector<Choice> names(std::initializer_list<const char *> texts)
{
    QVector<Choice> list;
    for (const char *name : texts)
        list.append({-1, "", name});
    return list;
}

// Lower case without spaces, dashes and underscores: "OUT CLOSED" ~ "out-closed".
QString normalised(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (!c.isSpace() && c != QLatin1Char('-') && c != QLatin1Char('_'))
            out += c.toLower();
    }
    return out;
}

// JavaScript's parseInt(text, 10): optional blanks and sign, then digits up
// to the first non-digit; false without any digit.
bool leadingInteger(const QByteArray &text, int *value)
{
    int i = 0;
    while (i < text.size() && isspace(static_cast<unsigned char>(text.at(i))))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == '-' || text.at(i) == '+'))
        negative = text.at(i++) == '-';
    int number = 0;
    int digits = 0;
    for (; i < text.size() && isdigit(static_cast<unsigned char>(text.at(i))); ++i, ++digits)
        number = number * 10 + (text.at(i) - '0');
    if (digits == 0)
        return false;
    *value = negative ? -number : number;
    return true;
}
} // namespace

const QVector<BoardModel> &models()
{
    static const QVector<BoardModel> table = {
        {'U', QStringLiteral("Ostrel X2"), 2, longSettingsLength, true, true, "~M1", "~M2",
         QT_TRANSLATE_NOOP("Board", "Ostrel X2 v%1 connected"), false, 0},
        {'L', QStringLiteral("Ostrel S2"), 1, shortSettingsLength, false, false, "~T1", "",
         QT_TRANSLATE_NOOP("Board", "Ostrel S2 v%1 connected"), false, 0},
        {0, QStringLiteral("Ostrel S"), 1, 0, false, false, "~T1", "", nullptr, true, 9},
    };
    return table;
}

const BoardModel *modelForLetter(char letter)
{
    for (const BoardModel &model : models()) {
        if (!model.compatibility && model.letter == letter)
            return &model;
    }
    return nullptr;
}

const BoardModel &compatibilityModel()
{
    return models().last();
}

int BoardSettings::field(int i) const
{
    const int values[FieldCount] = {t1, t2, t3, t4, t5, p6, p7, p8, p9, p10};
    return (i >= 0 && i < FieldCount) ? values[i] : -1;
}

void BoardSettings::setField(int i, int value)
{
    int *fields[FieldCount] = {&t1, &t2, &t3, &t4, &t5, &p6, &p7, &p8, &p9, &p10};
    if (i >= 0 && i < FieldCount)
        *fields[i] = value;
}

bool BoardSettings::operator==(const BoardSettings &other) const
{
    if (form != other.form)
        return false;
    for (int i = 0; i < FieldCount; ++i) {
        if (field(i) != other.field(i))
            return false;
    }
    return true;
}

QString Choice::text() const
{
    if (name)
        return QLatin1String(name);
    const QString value = QString::number(number);
    return *unit ? value + QLatin1Char(' ') + QLatin1String(unit) : value;
}

const QVector<SettingsField> &settingsFields()
{
    static const QVector<SettingsField> fields = {
        {"t1", numbers(16, 1, "min"), 0, 15},
        {"t2", numbers(16, 100, "ms"), 0, 15},
        {"t3", numbers(11, 1, "s"), 0, 10},
        {"t4", numbers(16, 1, "s"), 0, 15},
        {"t5", numbers(16, 100, "ms"), 0, 15},
        {"p6", names({"OFF", "RESET", "POWER", "OUT OPENED", "OUT CLOSED"}), 0, 4},
        {"p7", names({"OFF", "RESET", "POWER", "OUT OPENED", "OUT CLOSED"}), 0, 4},
        {"p8", numbers(16, 1, ""), 0, 15},
        {"p9", names({"OFF", "INPUT", "OUTPUT", "TEMP"}), 0, 3},
        {"p10", {}, 0, maxThreshold},
    };
    return fields;
}

int choiceIndex(int field, const QString &text)
{
    if (field < 0 || field >= settingsFields().size())
        return -1;
    const SettingsField &f = settingsFields().at(field);
    const QString wanted = normalised(text);
    if (f.choices.isEmpty()) {
        bool ok = false;
        const int value = wanted.toInt(&ok);
        return ok && value >= f.minimum && value <= f.maximum ? value : -1;
    }
    for (int i = 0; i < f.choices.size(); ++i) {
        const Choice &c = f.choices.at(i);
        if (normalised(c.text()) == wanted)
            return i;
        // A number may leave out its unit.
        if (!c.name && QString::number(c.number) == wanted)
            return i;
    }
    return -1;
}

QByteArray heartbeat(const BoardModel *model)
{
    return model && model->hasInput ? QByteArrayLiteral("~U~G") : QByteArrayLiteral("~U");
}

QByteArray handshake(bool ledOn, bool suspended)
{
    return led(ledOn) + suspend(suspended);
}

QByteArray led(bool on)
{
    return on ? QByteArrayLiteral("~L1") : QByteArrayLiteral("~L0");
}

QByteArray suspend(bool on)
{
    return on ? QByteArrayLiteral("~P1") : QByteArrayLiteral("~P0");
}

QByteArray testReset()
{
    return QByteArrayLiteral("~T1");
}

QByteArray testPower()
{
    return QByteArrayLiteral("~T2");
}

QByteArray remoteReset(const BoardModel *model)
{
    return model ? model->remoteReset : testReset();
}

QByteArray channel(int n, bool closed)
{
    return (closed ? QByteArrayLiteral("~S") : QByteArrayLiteral("~R")) + QByteArray::number(n);
}

QByteArray identify()
{
    return QByteArrayLiteral("~I");
}

QByteArray readSettings()
{
    return QByteArrayLiteral("~F");
}

QByteArray writeSettings(const BoardSettings &s)
{
    QByteArray cmd = "~W";
    cmd += hexDigit(s.t1);
    cmd += hexDigit(s.t2);
    if (s.form == BoardSettings::Short)
        return cmd;
    for (int i = 2; i < 9; ++i)
        cmd += hexDigit(s.field(i));
    cmd += QByteArray::number(qMax(s.p10, 0), 16).rightJustified(2, '0');
    return cmd;
}

QByteArray legacyWrite(int t1, bool identifyToo)
{
    const int digit = qBound(0, t1, compatibilityModel().compatibilityT1Max);
    QByteArray cmd = "~W" + QByteArray::number(digit) + "\n";
    if (identifyToo)
        cmd += identify();
    return cmd;
}

QByteArray firmwareUpdate()
{
    return QByteArrayLiteral("~D");
}

namespace
{
BoardSettings parseSettings(const QByteArray &piece)
{
    BoardSettings s;
    auto digit = [&piece](int pos) { return hexValue(piece.mid(pos, 1)); };
    if (piece.size() == longSettingsLength) {
        s.form = BoardSettings::Long;
        for (int i = 0; i < 9; ++i)
            s.setField(i, digit(2 + i));
        if (s.t3 > 11)
            s.t3 = t3Last;
        const int threshold = hexValue(piece.mid(11, 2));
        s.p10 = threshold < 0 ? -1 : qMin(threshold, maxThreshold);
    } else if (piece.size() == shortSettingsLength) {
        s.form = BoardSettings::Short;
        s.t1 = digit(2);
        s.t2 = digit(3);
        s.p6 = 1; // the one channel resets
    }
    return s;
}

InputReading parseInput(const QByteArray &piece)
{
    InputReading in;
    const char kind = piece.size() > 2 ? piece.at(2) : 0;
    const char level = piece.size() > 5 ? piece.at(5) : 0;
    if (kind == 'E' || kind == 'F')
        return in;
    if (kind == 'I' || kind == 'O') {
        in.kind = kind == 'I' ? InputReading::Input : InputReading::Output;
        in.level = level;
        return in;
    }
    if (leadingInteger(piece.mid(2, 4), &in.tenths))
        in.kind = InputReading::Temperature;
    return in;
}
} // namespace

Reply parseReply(const QByteArray &piece)
{
    Reply r;
    if (piece.size() < 2 || piece.at(0) != '~')
        return r;
    const char arg = piece.size() > 2 ? piece.at(2) : 0;
    switch (piece.at(1)) {
    case 'A':
        r.kind = Reply::Ack;
        break;
    case 'F':
        r.kind = Reply::Settings;
        r.settings = parseSettings(piece);
        break;
    case 'L':
    case 'P':
        // Only a plain "0" or "1" tells a state.
        if (arg == '0' || arg == '1') {
            r.kind = piece.at(1) == 'L' ? Reply::Led : Reply::Suspend;
            r.on = arg == '1';
        }
        break;
    case 'I':
        if (piece.size() >= 6) {
            r.kind = Reply::Identity;
            r.identity.version = QString::fromLatin1(piece.mid(2, 3));
            r.identity.letter = piece.at(5);
        }
        break;
    case 'G':
        r.kind = Reply::Input;
        r.input = parseInput(piece);
        break;
    case 'S':
    case 'R':
        if (arg == '1' || arg == '2') {
            r.kind = piece.at(1) == 'S' ? Reply::ChannelClosed : Reply::ChannelOpened;
            r.channel = arg - '0';
        }
        break;
    default:
        break;
    }
    return r;
}

QList<QByteArray> ReplyFramer::feed(const QByteArray &bytes)
{
    QList<QByteArray> replies;
    int start = 0;
    for (int end = bytes.indexOf('\n'); end >= 0; end = bytes.indexOf('\n', start)) {
        const int length = end - start;
        if (!m_discarding && m_buffer.size() + length <= MaxBuffer && m_buffer.size() + length > 0)
            replies.append(m_buffer + bytes.mid(start, length));
        m_buffer.clear();
        m_discarding = false;
        start = end + 1;
    }
    if (!m_discarding) {
        m_buffer += bytes.mid(start);
        if (m_buffer.size() > MaxBuffer) {
            // A run this long is no reply: drop it up to its end.
            m_buffer.clear();
            m_discarding = true;
        }
    }
    return replies;
}

QByteArray ReplyFramer::takeTail()
{
    const QByteArray tail = m_discarding ? QByteArray() : m_buffer;
    m_buffer.clear();
    m_discarding = false;
    return tail;
}

} // namespace BoardProtocol
