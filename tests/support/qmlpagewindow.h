#pragma once

#include <QByteArray>
#include <QPointF>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <memory>

class Journal;
class MaterialFixes;
class QObject;
class QQmlEngine;
class QQuickItem;
class QQuickWindow;
class WindowHost;

// A window built from the real QML of the resources with the application's
// QML module and its singletons, as the program sets them up, for
// driving one page (or the whole main window) the way a user does.
class QmlPageWindow
{
public:
    QmlPageWindow();
    ~QmlPageWindow();

    // Once per program, before the first window: the application's style and
    // native element types.
    static void prepare();
    // Waits until the main window has built what it builds after its first
    // frame; false when that took over 10 s.
    static bool waitUntilBuilt(QObject *window);

    // Builds the window from QML text; url names it, so the pages it uses
    // resolve next to it in the resources. False, with errorString(), when
    // the component cannot be created.
    bool create(const QByteArray &qml, const QUrl &url, Journal *journal);
    // Builds the window from a QML file such as "qrc:/main.qml".
    bool create(const QUrl &url, Journal *journal);
    QString errorString() const { return m_error; }
    // Destroys the window, then its engine.
    void destroy();

    QObject *root() const { return m_root.get(); }
    // The engine behind the window: settings, board and heartbeat cycle.
    WindowHost *host() const { return m_host.get(); }
    QQuickWindow *window() const;
    // Runs the heartbeat cycle every `ms` from now on instead of every 3 s.
    void setCycle(int ms) const;

    // Evaluates a JavaScript expression in the window's scope; a failing
    // expression gives an invalid value and a warning that names it.
    QVariant eval(const QString &expression) const;
    QObject *object(const QString &expression) const;
    QQuickItem *item(const QString &expression) const;

    // A mouse click at a point given in the item's own coordinates; records a
    // failure when the item is missing or hidden.
    void clickAt(QQuickItem *target, const QPointF &at, Qt::MouseButton button = Qt::LeftButton);
    // A mouse click at the given fractions of the item's width and height.
    void click(QQuickItem *target, qreal fx = 0.5, qreal fy = 0.5,
               Qt::MouseButton button = Qt::LeftButton);

    // With TOVEL3_RENDER_DIR set, saves a picture of the window there under
    // name once it has settled (no new frame), waiting settleMs at most for
    // that; otherwise does nothing.
    void render(const QString &name, int settleMs = 0) const;

private:
    bool finish(QObject *created, const QString &error);

    std::unique_ptr<WindowHost> m_host;
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QObject> m_root;
    MaterialFixes *m_fixes = nullptr; // owned by the engine
    QString m_error;
};
