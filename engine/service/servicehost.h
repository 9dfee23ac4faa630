#pragma once

#include <QObject>
#include <QString>

class AppSettings;
class Journal;
class SystemdNotifier;
class InstanceLock;
class QTimer;
class QTranslator;
class Engine;

// The watchdog without a window: the engine, its settings file, the journal
// and the instance lock, as the service runs them and as the desktop program
// runs them when there is no display.
class ServiceHost : public QObject
{
    Q_OBJECT
public:
    struct Paths {
        QString config;     // settings file; empty: the desktop program's store
        QString stateDir;   // where run-time changes go when the file is read-only
        QString journalDir; // empty: the desktop program's journal directory
        QString runtimeDir; // lock and control socket
        QString socket;     // control socket
    };

    // Where things live: the options first, then the directories systemd
    // passes (CONFIGURATION_DIRECTORY, LOGS_DIRECTORY, RUNTIME_DIRECTORY),
    // otherwise the desktop program's files of the same user.
    static Paths resolvePaths(const QString &configOption, const QString &socketOption);

    explicit ServiceHost(const Paths &paths, QObject *parent = nullptr);
    ~ServiceHost() override;

    // Takes the instance lock, opens the settings, the journal and the
    // engine, and starts the cycle. False (with the reason in errorString())
    // when another instance runs on the same settings file or the settings
    // cannot be read. A control socket that cannot be had does not stop the
    // watchdog: it is reported and tried again every listenRetryMs.
    bool start();
    // The journal's closing line and the end of the engine.
    void stop();
    // Reads the settings file again (SIGHUP) and applies what changed, with
    // a journal line for each change. A file that cannot be read now is
    // reported and the settings in use are kept.
    void reload();

    static constexpr int listenRetryMs = 5000;

    // What `systemctl status` shows: the board, the last acknowledgement
    // and the checks, in one line.
    QString statusLine() const;

    AppSettings *settings() const { return m_settings; }
    Engine *engine() const { return m_engine; }
    Journal *journal() const { return m_journal; }
    QString errorString() const { return m_error; }

    // The desktop program's options, which it also takes without a display:
    // each writes its setting ("lang", "softgl", "legacy").
    enum Options { ServiceOptions, DesktopOptions };

    // Runs the service in an existing QCoreApplication: options, start,
    // event loop until SIGTERM/SIGINT. SIGHUP reloads the settings of the
    // service and ends the desktop program's run. The process's exit code.
    static int run(const QStringList &arguments, Options options = ServiceOptions);

private:
    void listen();
    void warnAboutSettings();
    void portOpenFailed(const QString &port);
    // The system's half (servicehost_<system>.cpp): why this process may not
    // use the port, as far as the system tells without opening it; empty
    // when nothing speaks against it.
    static QString portAccessProblem(const QString &port);

    Paths m_paths;
    QString m_error;
    InstanceLock *m_lock = nullptr;
    AppSettings *m_settings = nullptr;
    Journal *m_journal = nullptr;
    QTranslator *m_translator = nullptr;
    Engine *m_engine = nullptr;
    SystemdNotifier *m_notifier = nullptr;
    QTimer *m_listenRetry = nullptr;
    QString m_portWarned; // the port whose failure was reported last
    QString m_settingsWarning;
};
