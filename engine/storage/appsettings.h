#pragma once

#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <QVector>

class Journal;

// The option store with one typed property per key. Keys, stored types,
// defaults and limits are listed once, in the table in appsettings.cpp. Values
// are stored in the same forms the text-typed Settings element writes for the
// pages (a flag as a boolean, a number as an int, a name as text), so existing
// files and exports read the same through either class. Every write is
// committed at once. Objects on the same store in one process share its
// values; reload() announces what another writer changed. An object is used
// on one thread; another thread opens an object of its own.
class AppSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool showAtStart READ showAtStart WRITE setShowAtStart NOTIFY showAtStartChanged)
    Q_PROPERTY(bool softwareRendering READ softwareRendering WRITE setSoftwareRendering NOTIFY
                   softwareRenderingChanged)
    Q_PROPERTY(bool legacyMode READ legacyMode WRITE setLegacyMode NOTIFY legacyModeChanged)
    Q_PROPERTY(int legacyT1 READ legacyT1 WRITE setLegacyT1 NOTIFY legacyT1Changed)
    Q_PROPERTY(QString port READ port WRITE setPort NOTIFY portChanged)
    Q_PROPERTY(bool pingEnabled READ pingEnabled WRITE setPingEnabled NOTIFY pingEnabledChanged)
    Q_PROPERTY(QString pingAddress READ pingAddress WRITE setPingAddress NOTIFY pingAddressChanged)
    Q_PROPERTY(int pingTimeout READ pingTimeout WRITE setPingTimeout NOTIFY pingTimeoutChanged)
    Q_PROPERTY(QString processName READ processName WRITE setProcessName NOTIFY processNameChanged)
    Q_PROPERTY(bool processCheckEnabled READ processCheckEnabled WRITE setProcessCheckEnabled NOTIFY
                   processCheckEnabledChanged)
    Q_PROPERTY(
        QString processOwner READ processOwner WRITE setProcessOwner NOTIFY processOwnerChanged)
    Q_PROPERTY(
        bool manualControl READ manualControl WRITE setManualControl NOTIFY manualControlChanged)
    Q_PROPERTY(bool ledOff READ ledOff WRITE setLedOff NOTIFY ledOffChanged)
    Q_PROPERTY(bool timerSuspended READ timerSuspended WRITE setTimerSuspended NOTIFY
                   timerSuspendedChanged)
    Q_PROPERTY(bool loggingEnabled READ loggingEnabled WRITE setLoggingEnabled NOTIFY
                   loggingEnabledChanged)
    Q_PROPERTY(int logSizeMb READ logSizeMb WRITE setLogSizeMb NOTIFY logSizeMbChanged)
    Q_PROPERTY(int logBackups READ logBackups WRITE setLogBackups NOTIFY logBackupsChanged)
    Q_PROPERTY(bool logNetwork READ logNetwork WRITE setLogNetwork NOTIFY logNetworkChanged)
    Q_PROPERTY(bool logProcess READ logProcess WRITE setLogProcess NOTIFY logProcessChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString updateUrl READ updateUrl WRITE setUpdateUrl NOTIFY updateUrlChanged)
    Q_PROPERTY(QDateTime lastUpdateCheck READ lastUpdateCheck WRITE setLastUpdateCheck NOTIFY
                   lastUpdateCheckChanged)
    Q_PROPERTY(QString metricsDir READ metricsDir WRITE setMetricsDir NOTIFY metricsDirChanged)
    Q_PROPERTY(QString extraPorts READ extraPorts WRITE setExtraPorts NOTIFY extraPortsChanged)

public:
    // In the order of the table in appsettings.cpp.
    enum class Key {
        ShowAtStart,
        SoftwareRendering,
        LegacyMode,
        LegacyT1,
        Port,
        PingEnabled,
        PingAddress,
        PingTimeout,
        ProcessName,
        ProcessCheckEnabled,
        ProcessOwner,
        ManualControl,
        LedOff,
        TimerSuspended,
        LoggingEnabled,
        LogSizeMb,
        LogBackups,
        LogNetwork,
        LogProcess,
        Language,
        UpdateUrl,
        LastUpdateCheck,
        MetricsDir,
        ExtraPorts,
    };
    Q_ENUM(Key)

    // The per-user store of the application (organisation and application
    // names of the application object).
    explicit AppSettings(QObject *parent = nullptr);
    // A store of the given format at a path, for example an INI file named
    // on the command line.
    AppSettings(QSettings::Format format, const QString &path, QObject *parent = nullptr);
    // The same, for a file the program may only read (the service's file in
    // /etc): what it changes at run time (the port found, a suspension asked
    // for by tovel3ctl) is kept in `statePath`, but only for keys the file
    // leaves out: what the file says wins.
    AppSettings(QSettings::Format format, const QString &path, const QString &statePath,
                QObject *parent = nullptr);
    ~AppSettings() override;

    // Where the user's own store lives, found without reading it (reading a
    // FIFO put in its place would block).
    static QString userStorePath();
    // When something other than a regular file stands at userStorePath(),
    // the store is kept in a private temporary directory for this run
    // instead (with a warning). True when it did so.
    static bool divertIrregularUserStore();

    // The key's name in the store, and its value when the store lacks it.
    static QString keyName(Key key);
    static QVariant defaultValue(Key key);

    // The typed value: the stored one brought into the key's limits, or the
    // default when the store lacks the key or holds something unreadable.
    QVariant value(Key key) const;
    // Whether the store (or, for keys the file leaves out, the state) holds
    // the key at all.
    bool contains(Key key) const;
    // Stores the value in the key's form and limits and commits the store;
    // false when the value cannot be read as the key's type.
    bool setValue(Key key, const QVariant &value);

    QString fileName() const;
    QSettings::Status status() const;

    // Why `value` set for the key now would not be read back after a
    // restart (the file sets the key otherwise, or the store cannot be
    // written); empty when it would.
    QString unkeptReason(Key key, const QVariant &value) const;
    // Why nothing set at run time would survive a restart; empty when it
    // would.
    QString storeProblem() const;

    // Applies "logging/size", "logging/count" and "logging/enable" to the
    // journal, as both programs do.
    void applyToJournal(Journal *journal) const;

    bool showAtStart() const { return value(Key::ShowAtStart).toBool(); }
    bool softwareRendering() const { return value(Key::SoftwareRendering).toBool(); }
    bool legacyMode() const { return value(Key::LegacyMode).toBool(); }
    int legacyT1() const { return value(Key::LegacyT1).toInt(); }
    QString port() const { return value(Key::Port).toString(); }
    bool pingEnabled() const { return value(Key::PingEnabled).toBool(); }
    QString pingAddress() const { return value(Key::PingAddress).toString(); }
    int pingTimeout() const { return value(Key::PingTimeout).toInt(); }
    QString processName() const { return value(Key::ProcessName).toString(); }
    bool processCheckEnabled() const { return value(Key::ProcessCheckEnabled).toBool(); }
    QString processOwner() const { return value(Key::ProcessOwner).toString(); }
    bool manualControl() const { return value(Key::ManualControl).toBool(); }
    bool ledOff() const { return value(Key::LedOff).toBool(); }
    bool timerSuspended() const { return value(Key::TimerSuspended).toBool(); }
    bool loggingEnabled() const { return value(Key::LoggingEnabled).toBool(); }
    int logSizeMb() const { return value(Key::LogSizeMb).toInt(); }
    int logBackups() const { return value(Key::LogBackups).toInt(); }
    bool logNetwork() const { return value(Key::LogNetwork).toBool(); }
    bool logProcess() const { return value(Key::LogProcess).toBool(); }
    QString language() const { return value(Key::Language).toString(); }
    QString updateUrl() const { return value(Key::UpdateUrl).toString(); }
    QDateTime lastUpdateCheck() const { return value(Key::LastUpdateCheck).toDateTime(); }
    QString metricsDir() const { return value(Key::MetricsDir).toString(); }
    QString extraPorts() const { return value(Key::ExtraPorts).toString(); }

    void setShowAtStart(bool on) { setValue(Key::ShowAtStart, on); }
    void setSoftwareRendering(bool on) { setValue(Key::SoftwareRendering, on); }
    void setLegacyMode(bool on) { setValue(Key::LegacyMode, on); }
    void setLegacyT1(int minutes) { setValue(Key::LegacyT1, minutes); }
    void setPort(const QString &name) { setValue(Key::Port, name); }
    void setPingEnabled(bool on) { setValue(Key::PingEnabled, on); }
    void setPingAddress(const QString &address) { setValue(Key::PingAddress, address); }
    void setPingTimeout(int ms) { setValue(Key::PingTimeout, ms); }
    void setProcessName(const QString &name) { setValue(Key::ProcessName, name); }
    void setProcessCheckEnabled(bool on) { setValue(Key::ProcessCheckEnabled, on); }
    void setProcessOwner(const QString &user) { setValue(Key::ProcessOwner, user); }
    void setManualControl(bool on) { setValue(Key::ManualControl, on); }
    void setLedOff(bool off) { setValue(Key::LedOff, off); }
    void setTimerSuspended(bool on) { setValue(Key::TimerSuspended, on); }
    void setLoggingEnabled(bool on) { setValue(Key::LoggingEnabled, on); }
    void setLogSizeMb(int mb) { setValue(Key::LogSizeMb, mb); }
    void setLogBackups(int count) { setValue(Key::LogBackups, count); }
    void setLogNetwork(bool on) { setValue(Key::LogNetwork, on); }
    void setLogProcess(bool on) { setValue(Key::LogProcess, on); }
    void setLanguage(const QString &code) { setValue(Key::Language, code); }
    void setUpdateUrl(const QString &url) { setValue(Key::UpdateUrl, url); }
    void setLastUpdateCheck(const QDateTime &when) { setValue(Key::LastUpdateCheck, when); }
    void setMetricsDir(const QString &dir) { setValue(Key::MetricsDir, dir); }
    void setExtraPorts(const QString &names) { setValue(Key::ExtraPorts, names); }

public slots:
    // Reads the store again (also the file, when another process changed it)
    // and announces every value that differs from the last one announced.
    void reload();

signals:
    void showAtStartChanged(bool on);
    void softwareRenderingChanged(bool on);
    void legacyModeChanged(bool on);
    void legacyT1Changed(int minutes);
    void portChanged(const QString &name);
    void pingEnabledChanged(bool on);
    void pingAddressChanged(const QString &address);
    void pingTimeoutChanged(int ms);
    void processNameChanged(const QString &name);
    void processCheckEnabledChanged(bool on);
    void processOwnerChanged(const QString &user);
    void manualControlChanged(bool on);
    void ledOffChanged(bool off);
    void timerSuspendedChanged(bool on);
    void loggingEnabledChanged(bool on);
    void logSizeMbChanged(int mb);
    void logBackupsChanged(int count);
    void logNetworkChanged(bool on);
    void logProcessChanged(bool on);
    void languageChanged(const QString &code);
    void updateUrlChanged(const QString &url);
    void lastUpdateCheckChanged(const QDateTime &when);
    void metricsDirChanged(const QString &dir);
    void extraPortsChanged(const QString &names);

private:
    // The system's half (appsettings_<system>.cpp): why the file at `path`
    // could not be replaced, as far as the system tells before a write;
    // empty when it could.
    static QString writeProblem(const QString &path);

    void start();
    void convertOldPingAddress();
    void refresh(Key key);

    QSettings *m_store;
    QSettings *m_state = nullptr; // run-time changes over a read-only file
    // The values last announced, by key.
    QVector<QVariant> m_known;
};
