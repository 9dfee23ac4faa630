#include "storage/appsettings.h"
#include "logging.h"

#include "storage/journal.h"

#include <QMetaMethod>
#include <QMetaProperty>

#include <iterator>

namespace
{
using Key = AppSettings::Key;

// How a key is stored: a flag as a boolean, a number as an int, text as
// itself, a point in time as ISO 8601 text in UTC.
enum class Kind { Flag, Number, Text, Time };
enum class Trim { No, Yes };

struct Entry {
    Key key;
    const char *name;     // in the store
    const char *property; // of AppSettings
    Kind kind;
    const char *defaultText;
    int defaultNumber;
    int min;
    int max;
    bool trimmed;
};

constexpr Entry flag(Key key, const char *name, const char *property, bool byDefault)
{
    return {key, name, property, Kind::Flag, "", byDefault ? 1 : 0, 0, 1, false};
}

constexpr Entry number(Key key, const char *name, const char *property, int byDefault, int min,
                       int max)
{
    return {key, name, property, Kind::Number, "", byDefault, min, max, false};
}

constexpr Entry text(Key key, const char *name, const char *property, const char *byDefault,
                     Trim trim = Trim::No)
{
    return {key, name, property, Kind::Text, byDefault, 0, 0, 0, trim == Trim::Yes};
}

constexpr Entry moment(Key key, const char *name, const char *property)
{
    return {key, name, property, Kind::Time, "", 0, 0, 0, false};
}

constexpr int mib = 1048576;

// Every option of the application. Limits: t1 as the legacy board takes it,
// the ping timeout as the slider offers it, the journal's size and count as
// the journal accepts them (start-up has always applied any stored value in
// that range; the logging dialog offers the narrower 1..1024 and 1..16).
// Names someone types or pastes to be looked up are stored trimmed.
constexpr Entry table[] = {
    flag(Key::ShowAtStart, "visible", "showAtStart", true),
    flag(Key::SoftwareRendering, "softgl", "softwareRendering", false),
    flag(Key::LegacyMode, "legacy", "legacyMode", false),
    number(Key::LegacyT1, "t1", "legacyT1", 5, 0, 15),
    text(Key::Port, "port", "port", ""),
    flag(Key::PingEnabled, "ping/on", "pingEnabled", false),
    text(Key::PingAddress, "ping/url", "pingAddress", "127.0.0.1", Trim::Yes),
    number(Key::PingTimeout, "ping/timeout", "pingTimeout", 1000, 200, 2500),
    text(Key::ProcessName, "monitor", "processName", "", Trim::Yes),
    flag(Key::ProcessCheckEnabled, "monitoron", "processCheckEnabled", false),
    text(Key::ProcessOwner, "monitorowner", "processOwner", "", Trim::Yes),
    flag(Key::ManualControl, "manualon", "manualControl", false),
    flag(Key::LedOff, "ledoff", "ledOff", false),
    flag(Key::TimerSuspended, "timerstop", "timerSuspended", false),
    flag(Key::LoggingEnabled, "logging/enable", "loggingEnabled", false),
    number(Key::LogSizeMb, "logging/size", "logSizeMb", 64, 0, int(Journal::MaxSize / mib)),
    number(Key::LogBackups, "logging/count", "logBackups", 3, 0, int(Journal::MaxBackups)),
    flag(Key::LogNetwork, "logging/network", "logNetwork", false),
    flag(Key::LogProcess, "logging/process", "logProcess", false),
    // Start-up settles it at every start, from the command line or the system.
    text(Key::Language, "UI/Language", "language", "en"),
    // Empty: the feed built into the program.
    text(Key::UpdateUrl, "Update/URL", "updateUrl", ""),
    moment(Key::LastUpdateCheck, "Update/LastCheck", "lastUpdateCheck"),
    text(Key::MetricsDir, "metrics/dir", "metricsDir", ""),
    // Ports offered besides the boards found by their vendor id, separated
    // by commas: a board behind a serial adapter, a virtual port.
    text(Key::ExtraPorts, "extraports", "extraPorts", "", Trim::Yes),
};

constexpr bool tableIsSound()
{
    for (int i = 0; i < int(std::size(table)); ++i) {
        const Entry &e = table[i];
        if (int(e.key) != i || e.defaultNumber < e.min || e.defaultNumber > e.max)
            return false;
    }
    return int(std::size(table)) == int(Key::ExtraPorts) + 1;
}
static_assert(tableIsSound(), "one entry per key, in the order of the keys, defaults in range");

const Entry &entry(Key key)
{
    return table[int(key)];
}

QVariant defaultOf(const Entry &e)
{
    switch (e.kind) {
    case Kind::Flag:
        return e.defaultNumber != 0;
    case Kind::Number:
        return e.defaultNumber;
    case Kind::Text:
        return QString::fromLatin1(e.defaultText);
    case Kind::Time:
        break;
    }
    return QDateTime();
}

// The typed value of something stored or given, within the key's limits;
// nothing when it cannot be read as the key's type. Flags and numbers are
// read through their text, so a value imported from an INI file (always
// text) means the same as one stored natively. A flag is true only for the
// word true, as the pages have always read it.
QVariant typed(const Entry &e, const QVariant &raw)
{
    switch (e.kind) {
    case Kind::Flag:
        return raw.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    case Kind::Number: {
        bool ok = false;
        const qlonglong n = raw.toString().trimmed().toLongLong(&ok);
        if (!ok)
            return QVariant();
        return int(qBound<qlonglong>(e.min, n, e.max));
    }
    case Kind::Text:
        return e.trimmed ? raw.toString().trimmed() : raw.toString();
    case Kind::Time:
        break;
    }
    const QDateTime when = raw.userType() == QMetaType::QDateTime
                               ? raw.toDateTime()
                               : QDateTime::fromString(raw.toString(), Qt::ISODate);
    return when.isValid() ? QVariant(when) : QVariant();
}

QVariant storedForm(const Entry &e, const QVariant &value)
{
    if (e.kind == Kind::Time)
        return value.toDateTime().toUTC().toString(Qt::ISODate);
    return value;
}
} // namespace

AppSettings::AppSettings(QObject *parent)
    : QObject(parent)
    , m_store(new QSettings(this))
{
    start();
}

AppSettings::AppSettings(QSettings::Format format, const QString &path, QObject *parent)
    : QObject(parent)
    , m_store(new QSettings(path, format, this))
{
    // As in exported files: names in any script stay readable text.
    if (format == QSettings::IniFormat)
        m_store->setIniCodec("UTF-8");
    start();
}

AppSettings::AppSettings(QSettings::Format format, const QString &path, const QString &statePath,
                         QObject *parent)
    : QObject(parent)
    , m_store(new QSettings(path, format, this))
    , m_state(new QSettings(statePath, QSettings::IniFormat, this))
{
    if (format == QSettings::IniFormat)
        m_store->setIniCodec("UTF-8");
    m_state->setIniCodec("UTF-8");
    start();
}

AppSettings::~AppSettings() = default;

QString AppSettings::keyName(Key key)
{
    return QString::fromLatin1(entry(key).name);
}

QVariant AppSettings::defaultValue(Key key)
{
    return defaultOf(entry(key));
}

QVariant AppSettings::value(Key key) const
{
    const Entry &e = entry(key);
    const QString name = QLatin1String(e.name);
    const QSettings *store = m_state && !m_store->contains(name) ? m_state : m_store;
    if (!store->contains(name))
        return defaultOf(e);
    const QVariant v = typed(e, store->value(name));
    return v.isValid() ? v : defaultOf(e);
}

bool AppSettings::contains(Key key) const
{
    const QString name = QLatin1String(entry(key).name);
    return m_store->contains(name) || (m_state && m_state->contains(name));
}

bool AppSettings::setValue(Key key, const QVariant &value)
{
    const Entry &e = entry(key);
    const QVariant v = typed(e, value);
    if (!v.isValid())
        return false;
    const QString name = QLatin1String(e.name);
    // The state keeps only what the file leaves out.
    if (m_state && m_store->contains(name))
        return true;
    QSettings *store = m_state ? m_state : m_store;
    store->setValue(name, storedForm(e, v));
    store->sync();
    refresh(key);
    return true;
}

QString AppSettings::unkeptReason(Key key, const QVariant &value) const
{
    const Entry &e = entry(key);
    const QString name = QLatin1String(e.name);
    if (m_state && m_store->contains(name)) {
        const QVariant configured = typed(e, m_store->value(name));
        if (configured.isValid() && configured == typed(e, value))
            return QString();
        return QStringLiteral("%1 sets %2").arg(m_store->fileName(), name);
    }
    return storeProblem();
}

QString AppSettings::storeProblem() const
{
    const QSettings *store = m_state ? m_state : m_store;
    const QString path = store->fileName();
    const QString refused = writeProblem(path);
    if (!refused.isEmpty())
        return refused;
    if (store->status() == QSettings::AccessError)
        return QStringLiteral("cannot write %1").arg(path);
    return QString();
}

void AppSettings::applyToJournal(Journal *journal) const
{
    // The journal brings the size into its limits (128 KiB at the least).
    journal->setMaxSizeMB(quint64(logSizeMb()));
    journal->setBackupCount(quint32(logBackups()));
    journal->setPaused(!loggingEnabled());
}

QString AppSettings::fileName() const
{
    return m_store->fileName();
}

QSettings::Status AppSettings::status() const
{
    return m_store->status();
}

void AppSettings::reload()
{
    m_store->sync();
    if (m_state)
        m_state->sync();
    convertOldPingAddress();
    for (const Entry &e : table)
        refresh(e.key);
}

void AppSettings::start()
{
    convertOldPingAddress();
    m_known.reserve(int(std::size(table)));
    for (const Entry &e : table)
        m_known.append(value(e.key));
}

// Earlier versions kept only a ping address under "url", with "localhost"
// meaning no network check. The first start of a newer version turns it
// into the switch and the address and drops the old key.
void AppSettings::convertOldPingAddress()
{
    const QString address = keyName(Key::PingAddress);
    // A file the program only reads is written by an administrator for this
    // version: nothing to convert, and defaults stored in the state file
    // would hide what the administrator adds later.
    if (m_state || m_store->contains(address))
        return;
    // A file that cannot be read is not written either, and one that cannot
    // be written would only fail the store.
    if (m_store->status() != QSettings::NoError || !storeProblem().isEmpty())
        return;
    qCInfo(lcSettings, "Converting old URL setting to ping/url");
    const QString oldKey = QStringLiteral("url");
    const QString old = m_store->value(oldKey, QStringLiteral("localhost")).toString().trimmed();
    const bool none = old.isEmpty() || old == QLatin1String("localhost");
    m_store->setValue(keyName(Key::PingEnabled), !none);
    m_store->setValue(address, none ? defaultValue(Key::PingAddress) : old);
    m_store->remove(oldKey);
    m_store->sync();
}

void AppSettings::refresh(Key key)
{
    const QVariant now = value(key);
    QVariant &known = m_known[int(key)];
    if (now == known)
        return;
    known = now;

    const Entry &e = entry(key);
    const QMetaObject &meta = staticMetaObject;
    const QMetaMethod notify = meta.property(meta.indexOfProperty(e.property)).notifySignal();
    Q_ASSERT(notify.isValid());
    switch (e.kind) {
    case Kind::Flag:
        notify.invoke(this, Qt::DirectConnection, Q_ARG(bool, now.toBool()));
        break;
    case Kind::Number:
        notify.invoke(this, Qt::DirectConnection, Q_ARG(int, now.toInt()));
        break;
    case Kind::Text:
        notify.invoke(this, Qt::DirectConnection, Q_ARG(QString, now.toString()));
        break;
    case Kind::Time:
        notify.invoke(this, Qt::DirectConnection, Q_ARG(QDateTime, now.toDateTime()));
        break;
    }
}
