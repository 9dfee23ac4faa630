#include "support/qmlpagewindow.h"

#include "device/board.h"
#include "engine.h"
#include "monitor/heartbeat.h"
#include "window/materialfixes.h"
#include "window/qmlhost.h"
#include "window/windowhost.h"

#include <QDir>
#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

QmlPageWindow::QmlPageWindow() = default;

QmlPageWindow::~QmlPageWindow()
{
    destroy();
}

void QmlPageWindow::prepare()
{
    QQuickStyle::setStyle("Material");
    QmlHost::registerTypes();
}

bool QmlPageWindow::create(const QByteArray &qml, const QUrl &url, Journal *journal)
{
    destroy();
    m_host.reset(new WindowHost(journal));
    m_engine.reset(new QQmlEngine);
    m_fixes = MaterialFixes::install(m_engine.get());
    QmlHost::publishApp(m_engine.get(), nullptr, journal);
    m_host->publish(m_engine.get());
    QQmlComponent component(m_engine.get());
    component.setData(qml, url);
    return finish(component.create(), component.errorString());
}

bool QmlPageWindow::create(const QUrl &url, Journal *journal)
{
    destroy();
    m_host.reset(new WindowHost(journal));
    m_engine.reset(new QQmlEngine);
    m_fixes = MaterialFixes::install(m_engine.get());
    QmlHost::publishApp(m_engine.get(), nullptr, journal);
    m_host->publish(m_engine.get());
    QQmlComponent component(m_engine.get(), url);
    return finish(component.create(), component.errorString());
}

bool QmlPageWindow::finish(QObject *created, const QString &error)
{
    m_root.reset(created);
    m_error = created ? QString() : error;
    if (!created)
        return false;
    // The style's mends, as the program has them.
    if (auto *quickWindow = qobject_cast<QQuickWindow *>(created))
        m_fixes->watch(quickWindow);
    m_host->start();
    if (!created->property("firstFrameDrawn").isValid())
        return true;
    const bool built = waitUntilBuilt(created);
    if (!built)
        m_error = QStringLiteral("the pages after the first were not built");
    return built;
}

bool QmlPageWindow::waitUntilBuilt(QObject *window)
{
    // The main window builds its other pages, the field menus and the process
    // dialog after its first frame.
    WindowHost::watchFirstFrame(window);
    // The window's properties, not its children: a page is found among those
    // while it is still being built.
    auto ready = [window](const char *name) {
        return window->property(name).value<QObject *>() != nullptr;
    };
    return QTest::qWaitFor(
        [window, ready] {
            QObject *first = window->findChild<QObject *>(QStringLiteral("page1"));
            return ready("page2") && ready("page3") && first &&
                   first->property("processList").value<QObject *>();
        },
        10000);
}

void QmlPageWindow::destroy()
{
    m_root.reset();
    m_engine.reset();
    m_host.reset();
}

QQuickWindow *QmlPageWindow::window() const
{
    return qobject_cast<QQuickWindow *>(m_root.get());
}

void QmlPageWindow::setCycle(int ms) const
{
    Heartbeat *heartbeat = m_host->engine()->heartbeat();
    m_host->engine()->post([heartbeat, ms] { heartbeat->setInterval(ms); });
}

QVariant QmlPageWindow::eval(const QString &expression) const
{
    QQmlExpression expr(qmlContext(m_root.get()), m_root.get(), expression);
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
    // Settled: a frame drawn and no other within 50 ms (transitions over),
    // or settleMs gone by.
    if (settleMs > 0) {
        QElapsedTimer clock;
        clock.start();
        QSignalSpy frames(window(), &QQuickWindow::frameSwapped);
        window()->update();
        for (int seen = -1;
             clock.elapsed() < settleMs && (frames.isEmpty() || frames.count() != seen);) {
            seen = frames.count();
            QTest::qWait(50);
        }
    }
    QDir().mkpath(dir);
    window()->screen()->grabWindow(window()->winId()).save(dir + "/" + name);
}
