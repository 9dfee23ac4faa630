#pragma once

// Hosts for the window tests: QmlPageWindow builds a window from the real QML
// of the resources with the application's QML module and its singletons, as
// the program sets them up; Harness loads the real main window on it the way
// start-up does, with a simulated board on a pseudo-terminal and a journal in
// a temporary directory. Every QML warning is collected.

#include "boardsim/boardsimulator.h"
#include "integration/singleapphandler.h"
#include "storage/journal.h"

#include <QByteArray>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>
#include <QVector>

#include <memory>

class MaterialFixes;
class QMessageBox;
class QObject;
class QQmlEngine;
class QQuickItem;
class QQuickWindow;
class QTranslator;
class WindowHost;

namespace WindowTest
{
struct ConsoleLine {
    qint64 msecs;
    QString text;
};

struct MessageLog {
    QStringList qmlProblems;      // QML warnings and errors: always a defect here
    QVector<ConsoleLine> console; // QML console output, in order
    QtMessageHandler previous = nullptr;
};

MessageLog &messages();
void installMessageHandler();
int consoleCount(const QString &text);
// Every case starts with an empty store and no QML output collected.
void startCase();
// Any QML warning or error a case's window produced is a failure of the case.
void verifyNoQmlProblems();
void writeSettings(const QVariantMap &values);
QString stored(const QString &key);
// A data table's column "language": one row in English, one in Russian.
void addLanguageRows();
// The message box on screen, if any.
QMessageBox *shownMessageBox();

// The interface in a language while it lives, as start-up sets it: "UI/Language"
// stored, Qt's and the program's catalogues installed.
class Language
{
public:
    explicit Language(const QString &code);
    ~Language();
    Language(const Language &) = delete;
    Language &operator=(const Language &) = delete;

private:
    QTranslator *m_catalogue = nullptr;
};
} // namespace WindowTest

// A window for driving one page (or the whole main window) the way a user does.
class QmlPageWindow
{
public:
    QmlPageWindow();
    ~QmlPageWindow();

    // Once per program, before the first window: the application's style and
    // native element types.
    static void prepare();

    // Builds the window from QML text; url names it, so the pages it uses
    // resolve next to it in the resources. False, with errorString(), when
    // the component cannot be created.
    bool create(const QByteArray &qml, const QUrl &url, Journal *journal);
    // Builds the window from a QML file such as "qrc:/main.qml".
    bool create(const QUrl &url, Journal *journal);
    QString errorString() const { return m_error; }
    // Destroys the window, then its engine.
    void destroy();

    QObject *root() const { return m_root; }
    // The engine behind the window: settings, board and heartbeat cycle.
    WindowHost *host() const { return m_host.get(); }
    QQuickWindow *window() const;
    // Whether the QML asked the program to quit.
    bool quitRequested() const { return m_quitRequested; }
    // Runs the heartbeat cycle every `ms` from now on instead of every 3 s.
    void setCycle(int ms) const;

    // Evaluates a JavaScript expression in the window's scope; a failing
    // expression gives an invalid value and a warning that names it.
    QVariant eval(const QString &expression) const;
    QObject *object(const QString &expression) const;
    QQuickItem *item(const QString &expression) const;
    QObject *child(const char *name) const;

    // A mouse click at a point given in the item's own coordinates; records a
    // failure when the item is missing or hidden.
    void clickAt(QQuickItem *target, const QPointF &at, Qt::MouseButton button = Qt::LeftButton);
    // A mouse click at the given fractions of the item's width and height.
    void click(QQuickItem *target, qreal fx = 0.5, qreal fy = 0.5,
               Qt::MouseButton button = Qt::LeftButton);

    // With TOVEL3_RENDER_DIR set, saves a picture of the window there under
    // name, after letting it settle for settleMs; otherwise does nothing.
    void render(const QString &name, int settleMs = 0) const;

protected:
    // The main window as start-up loads it, answering the single-instance
    // server; `deferred` as for Harness::load.
    bool loadMain(Journal *journal, SingleAppHandler *server, bool deferred);

private:
    void startEngine(QQmlEngine *engine, Journal *journal, SingleAppHandler *server);
    bool finish(QObject *created, const QString &error);
    // Waits until the main window has built what it builds after its first
    // frame; false, with errorString(), when that took over 10 s.
    bool waitUntilBuilt();

    std::unique_ptr<WindowHost> m_host;
    std::unique_ptr<QQmlEngine> m_engine;
    QObject *m_root = nullptr;
    bool m_ownsRoot = true;           // false when the engine owns it
    MaterialFixes *m_fixes = nullptr; // owned by the engine
    QString m_error;
    bool m_quitRequested = false;
};

// The real main window with its board, journal and single-instance server.
class Harness : public QmlPageWindow
{
public:
    Harness();
    ~Harness();

    BoardSimulator *addBoard(BoardSimulator::Model model);
    // `deferred`: let the window build what it builds after its first frame,
    // and wait for it; without, the window never learns of a first frame.
    bool load(bool deferred = true);

    static QObject *control(QObject *page, const char *name);
    int journalCount(const QString &message) const;
    // Commands the board received with exactly this text.
    int received(const QByteArray &text) const;

    QTemporaryDir dir;
    Journal journal;
    SingleAppHandler server;
    std::unique_ptr<BoardSimulator> board;
    QObject *page1 = nullptr;
    QObject *page3 = nullptr;
    QObject *tray = nullptr;
};
