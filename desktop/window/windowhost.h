#pragma once

#include <QObject>

class AppSettings;
class BoardView;
class Journal;
class ObjectMirror;
class QQmlApplicationEngine;
class QQmlEngine;
class Engine;

// The engine behind the window: the typed settings, the watchdog engine on
// its own thread, and the views of its board and heartbeat cycle that the
// pages bind to (the QML singletons Settings, Board and HeartbeatState).
class WindowHost : public QObject
{
    Q_OBJECT
public:
    explicit WindowHost(Journal *journal, QObject *parent = nullptr);
    ~WindowHost() override;

    AppSettings *settings() const { return m_settings; }
    Engine *engine() const { return m_engine; }

    // Gives the engine the three singletons; call before loading the window.
    void publish(QQmlEngine *engine) const;
    // Starts the engine: the saved port, then the cycle. Returns once the
    // engine has restored the port.
    void start();
    // Loads the window (qrc:/main.qml) while the engine restores the saved
    // port, watches for its first frame, then starts as start() does.
    void loadWindow(QQmlApplicationEngine *engine);

    // Sets the window's "firstFrameDrawn" property once its first frame is on
    // screen; the window builds what that frame does not show from then on.
    static void watchFirstFrame(QObject *window);

private:
    // Starts the engine without waiting for it.
    void startEngine();

    AppSettings *m_settings;
    Engine *m_engine;
    BoardView *m_board;
    ObjectMirror *m_heartbeat;
    bool m_engineStarted = false;
};
