#include "window/windowhost.h"

#include "device/board.h"
#include "engine.h"
#include "logging.h"
#include "monitor/heartbeat.h"
#include "service/instancedirectory.h"
#include "storage/appsettings.h"
#include "window/boardview.h"
#include "window/objectmirror.h"
#include "window/qmlhost.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QThread>

#include <memory>

WindowHost::WindowHost(Journal *journal, QObject *parent)
    : QObject(parent)
    , m_settings(new AppSettings(this))
    , m_engine(new Engine(m_settings, journal, Engine::OwnThread, this))
    , m_board(new BoardView(m_engine->board(), this))
    , m_heartbeat(new ObjectMirror(m_engine->heartbeat(), this))
{
}

WindowHost::~WindowHost()
{
    // The engine thread ends before the views of its objects go.
    delete m_engine;
}

void WindowHost::publish(QQmlEngine *engine) const
{
    QmlHost::publish(engine, "Settings", m_settings);
    QmlHost::publish(engine, "Board", m_board);
    QmlHost::publish(engine, "HeartbeatState", m_heartbeat);
}

void WindowHost::startEngine()
{
    if (m_engineStarted)
        return;
    m_engineStarted = true;
    m_engine->start();
}

void WindowHost::start()
{
    startEngine();
    // The saved port is restored before the window's event loop runs, as
    // when the window did it itself: the journal lines of start-up come
    // before anything the user, a signal or a second start can cause.
    Board *board = m_engine->board();
    if (board->thread() != QThread::currentThread())
        QMetaObject::invokeMethod(
            board, [] {}, Qt::BlockingQueuedConnection);
    // tovel3ctl reaches the desktop program through its user's own socket,
    // beside the instance lock.
    const QString address = InstanceDirectory::controlAddress();
    QString reason;
    if (!address.isEmpty() && !m_engine->listen(address, false, &reason))
        qCWarning(lcControl, "Control socket unavailable: %s", qPrintable(reason));
}

void WindowHost::loadWindow(QQmlApplicationEngine *engine)
{
    // The port search runs on the engine's thread while the window loads:
    // the window's first frame does not wait for it.
    startEngine();
    engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    const QList<QObject *> windows = engine->rootObjects();
    for (QObject *window : windows)
        watchFirstFrame(window);
    start();
}

void WindowHost::watchFirstFrame(QObject *window)
{
    auto *quickWindow = qobject_cast<QQuickWindow *>(window);
    if (!quickWindow)
        return;
    // Emitted on the render thread; the property is set on the window's own.
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(
        quickWindow, &QQuickWindow::frameSwapped, quickWindow,
        [quickWindow, connection] {
            disconnect(*connection);
            quickWindow->setProperty("firstFrameDrawn", true);
        },
        Qt::QueuedConnection);
}
