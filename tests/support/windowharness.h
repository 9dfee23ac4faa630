#pragma once

// Loads the real main window from the resources the way start-up does, with a
// simulated board on a pseudo-terminal, a journal in a temporary directory and
// every QML warning collected, for the end-to-end tests of the window.

#include "boardsim/boardsimulator.h"
#include "device/board.h"
#include "engine.h"
#include "integration/singleapphandler.h"
#include "monitor/heartbeat.h"
#include "service/loadtranslations.h"
#include "storage/journal.h"
#include "support/pingstandin.h"
#include "support/qmlpagewindow.h"
#include "window/materialfixes.h"
#include "window/qmlhost.h"
#include "window/windowhost.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickStyle>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QVariant>

#include <memory>

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

inline MessageLog &messages()
{
    static MessageLog log;
    return log;
}

inline bool fromQml(const QMessageLogContext &context, const QString &msg)
{
    const QByteArray category = context.category ? QByteArray(context.category) : QByteArray();
    return category == "qml" || category == "js" || msg.contains(QLatin1String("qrc:/")) ||
           msg.contains(QLatin1String(".qml:"));
}

inline void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    MessageLog &log = messages();
    const bool qml = fromQml(context, msg);
    if (qml && type != QtDebugMsg && type != QtInfoMsg)
        log.qmlProblems << msg;
    if (qml && (type == QtDebugMsg || type == QtInfoMsg)) {
        log.console.append({QDateTime::currentMSecsSinceEpoch(), msg});
        if (qEnvironmentVariableIsEmpty("TOVEL3_TEST_VERBOSE"))
            return;
    }
    if (log.previous)
        log.previous(type, context, msg);
}

inline void installMessageHandler()
{
    if (!messages().previous)
        messages().previous = qInstallMessageHandler(messageHandler);
}

inline int consoleCount(const QString &text)
{
    int n = 0;
    for (const ConsoleLine &line : messages().console) {
        if (line.text == text)
            ++n;
    }
    return n;
}

// Wipes the settings store of the temporary HOME, so each case starts fresh.
inline void clearSettings()
{
    QSettings s;
    s.clear();
    s.sync();
}

// Every case starts with an empty store and no QML output collected.
inline void startCase()
{
    clearSettings();
    messages().qmlProblems.clear();
    messages().console.clear();
}

// Any QML warning or error a case's window produced is a failure of the case.
inline void verifyNoQmlProblems()
{
    QVERIFY2(messages().qmlProblems.isEmpty(), qPrintable(messages().qmlProblems.join('\n')));
}

inline void writeSettings(const QVariantMap &values)
{
    QSettings s;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        s.setValue(it.key(), it.value());
    s.sync();
}

inline QString stored(const QString &key)
{
    QSettings s;
    return s.value(key).toString();
}

inline bool isStored(const QString &key)
{
    QSettings s;
    return s.contains(key);
}

// A data table's column "language": one row in English, one in Russian.
inline void addLanguageRows()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("English") << QStringLiteral("en");
    QTest::newRow("Russian") << QStringLiteral("ru");
}

// The interface in a language while it lives, as start-up sets it: "UI/Language"
// stored, Qt's and the program's catalogues installed.
class Language
{
public:
    explicit Language(const QString &code)
    {
        writeSettings({{QStringLiteral("UI/Language"), code}});
        m_catalogue = loadTranslations(qApp, nullptr, QStringLiteral("lang"));
    }
    ~Language()
    {
        QTranslator *qt = qApp->findChild<QTranslator *>(QStringLiteral("qtTranslator"));
        QCoreApplication::removeTranslator(qt);
        QCoreApplication::removeTranslator(m_catalogue);
        delete qt;
        delete m_catalogue;
    }
    Language(const Language &) = delete;
    Language &operator=(const Language &) = delete;

private:
    QTranslator *m_catalogue = nullptr;
};

class Harness
{
public:
    Harness()
    {
        installMessageHandler();
        journal.setLogFile(dir.path() + QStringLiteral("/tovel3.log"));
        journal.setPaused(false);
        QSettings s;
        s.setValue(QStringLiteral("logging/enable"), true);
        s.sync();
    }

    ~Harness()
    {
        engine.reset();
        host.reset();
        qunsetenv("TOVEL3_EXTRA_PORTS");
    }

    BoardSimulator *addBoard(BoardSimulator::Model model)
    {
        board.reset(new BoardSimulator(model));
        if (!board->start(dir.path() + QStringLiteral("/board")))
            return nullptr;
        qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(board->portPath()));
        return board.get();
    }

    // `deferred`: let the window build what it builds after its first frame,
    // and wait for it; without, the window never learns of a first frame.
    bool load(bool deferred = true)
    {
        static bool registered = false;
        if (!registered) {
            QmlHost::registerTypes();
            QQuickStyle::setStyle(QStringLiteral("Material"));
            registered = true;
        }
        host.reset(new WindowHost(&journal));
        engine.reset(new QQmlApplicationEngine);
        MaterialFixes::install(engine.get());
        QmlHost::publishApp(engine.get(), &server, &journal);
        host->publish(engine.get());
        QObject::connect(engine.get(), &QQmlEngine::quit, [this] { quitRequested = true; });
        engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
        if (engine->rootObjects().isEmpty())
            return false;
        root = engine->rootObjects().first();
        host->start();
        const bool built = !deferred || QmlPageWindow::waitUntilBuilt(root);
        page1 = child("page1");
        page2 = child("page2");
        page3 = child("page3");
        tray = child("trayIcon");
        return built && page1 && tray && (!deferred || (page2 && page3));
    }

    // Runs the heartbeat cycle every `ms` from now on instead of every 3 s.
    void setCycle(int ms) const
    {
        Heartbeat *heartbeat = host->engine()->heartbeat();
        host->engine()->post([heartbeat, ms] { heartbeat->setInterval(ms); });
    }

    // Evaluates a JavaScript expression in the window's scope.
    QVariant eval(const QString &expression) const
    {
        QQmlExpression expr(qmlContext(root), root, expression);
        const QVariant value = expr.evaluate();
        if (expr.hasError())
            qWarning() << expression << expr.error().toString();
        return value;
    }

    QObject *child(const char *name) const
    {
        return root ? root->findChild<QObject *>(QLatin1String(name)) : nullptr;
    }

    static QObject *control(QObject *page, const char *name)
    {
        return page ? page->property(name).value<QObject *>() : nullptr;
    }

    QVariant call(const char *function, const QVariant &arg = QVariant()) const
    {
        QVariant result;
        if (arg.isValid())
            QMetaObject::invokeMethod(root, function, Q_RETURN_ARG(QVariant, result),
                                      Q_ARG(QVariant, arg));
        else
            QMetaObject::invokeMethod(root, function, Q_RETURN_ARG(QVariant, result));
        return result;
    }

    QStringList journalMessages() const
    {
        QFile f(journal.getLogFile());
        QStringList out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
        for (const QString &line : lines) {
            if (!line.isEmpty())
                out << line;
        }
        return out;
    }

    int journalCount(const QString &message) const
    {
        int n = 0;
        for (const QString &line : journalMessages()) {
            if (line.endsWith(QLatin1Char(' ') + message))
                ++n;
        }
        return n;
    }

    QString lastJournal() const
    {
        const QStringList lines = journalMessages();
        return lines.isEmpty() ? QString() : lines.last();
    }

    // Commands the board received with exactly this text.
    int received(const QByteArray &text) const
    {
        return board ? board->receivedTexts().count(text) : 0;
    }

    QVector<qint64> receivedTimes(const QByteArray &text) const
    {
        QVector<qint64> times;
        if (!board)
            return times;
        for (const BoardSimulator::Command &c : board->received()) {
            if (c.text == text)
                times << c.msecs;
        }
        return times;
    }

    QTemporaryDir dir;
    Journal journal;
    SingleAppHandler server;
    std::unique_ptr<BoardSimulator> board;
    std::unique_ptr<WindowHost> host;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QObject *root = nullptr;
    QObject *page1 = nullptr;
    QObject *page2 = nullptr;
    QObject *page3 = nullptr;
    QObject *tray = nullptr;
    bool quitRequested = false;
};

// The message box on screen, if any.
inline QMessageBox *shownMessageBox()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            return box;
    }
    return nullptr;
}
} // namespace WindowTest
