#include "support/windowharness.h"

#include "device/board.h"
#include "engine.h"
#include "monitor/heartbeat.h"
#include "service/loadtranslations.h"
#include "window/materialfixes.h"
#include "window/qmlhost.h"
#include "window/windowhost.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QTranslator>

namespace WindowTest
{
MessageLog &messages()
{
    static MessageLog log;
    return log;
}

static bool fromQml(const QMessageLogContext &context, const QString &msg)
{
    const QByteArray category = context.category ? QByteArray(context.category) : QByteArray();
    return category == "qml" || category == "js" || msg.contains(QLatin1String("qrc:/")) ||
           msg.contains(QLatin1String(".qml:"));
}

static void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
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

void installMessageHandler()
{
    if (!messages().previous)
        messages().previous = qInstallMessageHandler(messageHandler);
}

int consoleCount(const QString &text)
{
    int n = 0;
    for (const ConsoleLine &line : messages().console) {
        if (line.text == text)
            ++n;
    }
    return n;
}

void startCase()
{
    QSettings s; // the temporary HOME's store, wiped
    s.clear();
    s.sync();
    messages().qmlProblems.clear();
    messages().console.clear();
}

void verifyNoQmlProblems()
{
    QVERIFY2(messages().qmlProblems.isEmpty(), qPrintable(messages().qmlProblems.join('\n')));
}

void writeSettings(const QVariantMap &values)
{
    QSettings s;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        s.setValue(it.key(), it.value());
    s.sync();
}

QString stored(const QString &key)
{
    return QSettings().value(key).toString();
}

void addLanguageRows()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("English") << QStringLiteral("en");
    QTest::newRow("Russian") << QStringLiteral("ru");
}

QMessageBox *shownMessageBox()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            return box;
    }
    return nullptr;
}

Language::Language(const QString &code)
{
    writeSettings({{QStringLiteral("UI/Language"), code}});
    m_catalogue = loadTranslations(qApp, nullptr, QStringLiteral("lang"));
}

Language::~Language()
{
    QTranslator *qt = qApp->findChild<QTranslator *>(QStringLiteral("qtTranslator"));
    QCoreApplication::removeTranslator(qt);
    QCoreApplication::removeTranslator(m_catalogue);
    delete qt;
    delete m_catalogue;
}
} // namespace WindowTest

QmlPageWindow::QmlPageWindow() = default;

QmlPageWindow::~QmlPageWindow()
{
    destroy();
}

void QmlPageWindow::prepare()
{
    static bool prepared = false;
    if (prepared)
        return;
    QQuickStyle::setStyle("Material");
    QmlHost::registerTypes();
    prepared = true;
}

void QmlPageWindow::startEngine(QQmlEngine *engine, Journal *journal, SingleAppHandler *server)
{
    destroy();
    m_host.reset(new WindowHost(journal));
    m_engine.reset(engine);
    m_fixes = MaterialFixes::install(engine);
    QmlHost::publishApp(engine, server, journal);
    m_host->publish(engine);
    m_quitRequested = false;
    QObject::connect(engine, &QQmlEngine::quit, [this] { m_quitRequested = true; });
}

bool QmlPageWindow::create(const QByteArray &qml, const QUrl &url, Journal *journal)
{
    startEngine(new QQmlEngine, journal, nullptr);
    QQmlComponent component(m_engine.get());
    component.setData(qml, url);
    return finish(component.create(), component.errorString());
}

bool QmlPageWindow::create(const QUrl &url, Journal *journal)
{
    startEngine(new QQmlEngine, journal, nullptr);
    QQmlComponent component(m_engine.get(), url);
    return finish(component.create(), component.errorString());
}

bool QmlPageWindow::finish(QObject *created, const QString &error)
{
    m_root = created;
    m_ownsRoot = true;
    m_error = created ? QString() : error;
    if (!created)
        return false;
    // The style's mends, as the program has them.
    if (auto *quickWindow = qobject_cast<QQuickWindow *>(created))
        m_fixes->watch(quickWindow);
    m_host->start();
    return !created->property("firstFrameDrawn").isValid() || waitUntilBuilt();
}

bool QmlPageWindow::loadMain(Journal *journal, SingleAppHandler *server, bool deferred)
{
    // As start-up: the engine loads the file, owns the window and mends its
    // style itself.
    prepare();
    auto *engine = new QQmlApplicationEngine;
    startEngine(engine, journal, server);
    engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    if (engine->rootObjects().isEmpty())
        return false;
    m_root = engine->rootObjects().first();
    m_ownsRoot = false;
    m_host->start();
    return !deferred || waitUntilBuilt();
}

bool QmlPageWindow::waitUntilBuilt()
{
    // The main window builds its other pages, the field menus and the process
    // dialog after its first frame.
    WindowHost::watchFirstFrame(m_root);
    // The window's properties, not its children: a page is found among those
    // while it is still being built.
    auto ready = [this](const char *name) {
        return m_root->property(name).value<QObject *>() != nullptr;
    };
    const bool built = QTest::qWaitFor(
        [this, ready] {
            QObject *first = child("page1");
            return ready("page2") && ready("page3") && first &&
                   first->property("processList").value<QObject *>();
        },
        10000);
    if (!built)
        m_error = QStringLiteral("the pages after the first were not built");
    return built;
}

void QmlPageWindow::destroy()
{
    if (m_ownsRoot)
        delete m_root;
    m_root = nullptr;
    m_engine.reset();
    m_host.reset();
}

QQuickWindow *QmlPageWindow::window() const
{
    return qobject_cast<QQuickWindow *>(m_root);
}

void QmlPageWindow::setCycle(int ms) const
{
    Heartbeat *heartbeat = m_host->engine()->heartbeat();
    m_host->engine()->post([heartbeat, ms] { heartbeat->setInterval(ms); });
}

QVariant QmlPageWindow::eval(const QString &expression) const
{
    QQmlExpression expr(qmlContext(m_root), m_root, expression);
    const QVariant value = expr.evaluate();
    if (expr.hasError())
        qWarning() << expression << expr.error().toString();
    return value;
}

QObject *QmlPageWindow::object(const QString &expression) const
{
    return eval(expression).value<QObject *>();
}

QQuickItem *QmlPageWindow::item(const QString &expression) const
{
    return qobject_cast<QQuickItem *>(object(expression));
}

QObject *QmlPageWindow::child(const char *name) const
{
    return m_root ? m_root->findChild<QObject *>(QLatin1String(name)) : nullptr;
}

void QmlPageWindow::clickAt(QQuickItem *target, const QPointF &at, Qt::MouseButton button)
{
    QVERIFY(target);
    QVERIFY(target->isVisible());
    QTest::mouseClick(window(), button, Qt::NoModifier, target->mapToScene(at).toPoint());
}

void QmlPageWindow::click(QQuickItem *target, qreal fx, qreal fy, Qt::MouseButton button)
{
    QVERIFY(target);
    clickAt(target, QPointF(target->width() * fx, target->height() * fy), button);
}

void QmlPageWindow::render(const QString &name, int settleMs) const
{
    const QString dir = qEnvironmentVariable("TOVEL3_RENDER_DIR");
    if (dir.isEmpty())
        return;
    if (settleMs > 0)
        QTest::qWait(settleMs);
    QDir().mkpath(dir);
    window()->screen()->grabWindow(window()->winId()).save(dir + "/" + name);
}

Harness::Harness()
{
    WindowTest::installMessageHandler();
    journal.setLogFile(dir.path() + QStringLiteral("/tovel3.log"));
    journal.setPaused(false);
    WindowTest::writeSettings({{QStringLiteral("logging/enable"), true}});
}

Harness::~Harness()
{
    destroy(); // before the journal, server and board it uses
    qunsetenv("TOVEL3_EXTRA_PORTS");
}

BoardSimulator *Harness::addBoard(BoardSimulator::Model model)
{
    board.reset(new BoardSimulator(model));
    if (!board->start(dir.path() + QStringLiteral("/board")))
        return nullptr;
    qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(board->portPath()));
    return board.get();
}

bool Harness::load(bool deferred)
{
    const bool built = loadMain(&journal, &server, deferred);
    page1 = child("page1");
    page3 = child("page3");
    tray = child("trayIcon");
    return built && page1 && tray && (!deferred || (child("page2") && page3));
}

QObject *Harness::control(QObject *page, const char *name)
{
    return page ? page->property(name).value<QObject *>() : nullptr;
}

int Harness::journalCount(const QString &message) const
{
    QFile f(journal.getLogFile());
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    int n = 0;
    for (const QString &line : QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"))) {
        if (line.endsWith(QLatin1Char(' ') + message))
            ++n;
    }
    return n;
}

int Harness::received(const QByteArray &text) const
{
    return board ? board->receivedTexts().count(text) : 0;
}
