#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

#include <memory>

class AppSettings;
class Board;
class ControlServer;
class Heartbeat;
class Journal;
class MetricsWriter;
struct MetricsSnapshot;
class QThread;

// The watchdog engine as one piece: the board and the heartbeat cycle,
// configured from the settings and kept in step with them.
//
// With its own thread (the desktop program), the board and the cycle run
// there, so that nothing the window does (a long layout, a slow dialog) can
// delay a heartbeat; views reach them only through queued calls and copies
// of their properties. The settings object stays on its own thread: changes
// made there are handed to the engine queued, and the port the board settles
// on is stored back the same way.
class Engine : public QObject
{
    Q_OBJECT
public:
    enum Threading { OwnThread, CallerThread };
    // The shortest period the test hook TOVEL3_CYCLE_MS may set.
    static constexpr int minimumTestCycleMs = 100;

    Engine(AppSettings *settings, Journal *journal, Threading threading = OwnThread,
           QObject *parent = nullptr);
    // Stops the cycle and the engine thread; the board and the cycle are
    // deleted on the thread they ran on.
    ~Engine() override;

    // Live on the engine thread once start() ran: call them only there (see
    // post()), or before start().
    Board *board() const { return m_board; }
    Heartbeat *heartbeat() const { return m_heartbeat; }
    QThread *engineThread() const;

    // Restores the saved port (which sends the compatibility-mode reset time
    // when that mode is on) and starts the cycle.
    void start();

    // Opens the control socket (tovel3ctl) on the engine thread, after
    // start(); `group` is true for a socket the group may use (0660), false
    // for the user's alone. What a client switches is stored in the settings
    // as the pages store it. False, with the reason, when it cannot listen.
    bool listen(const QString &path, bool group, QString *error = nullptr);
    // Reads again whether what a client switches can be kept (after the
    // settings were reloaded); on the settings' thread.
    void updateKeepNotes();
    ControlServer *control() const { return m_control; }

    // The engine's state as monitoring publishes it: call on the engine
    // thread.
    MetricsSnapshot snapshot() const;
    // The metrics file's writer; lives with the engine.
    MetricsWriter *metrics() const { return m_metrics.get(); }

    // Runs `call` on the engine thread; returns at once.
    template <typename Functor> void post(Functor &&call) const
    {
        QMetaObject::invokeMethod(m_board, std::forward<Functor>(call), Qt::QueuedConnection);
    }

private:
    void publishMetrics();
    void configure();
    void followSettings();

    AppSettings *m_settings;
    Journal *m_journal;
    QThread *m_thread = nullptr;
    Board *m_board;
    Heartbeat *m_heartbeat;
    std::unique_ptr<MetricsWriter> m_metrics;
    ControlServer *m_control = nullptr;
    qint64 m_started;
    // What the control socket says when a switch cannot be kept, read there
    // on the engine thread.
    struct KeepNotes {
        QMutex mutex;
        QString text[2][2];
    };
    std::shared_ptr<KeepNotes> m_keepNotes;
};
