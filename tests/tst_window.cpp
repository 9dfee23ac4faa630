// The whole main window as the program loads it: start-up from the store, the
// tray menu, one heartbeat with a simulated board lighting the lamp and the
// tray icon, the reaction to a second start, and settings export and import
// through real files.

#include "testenvironment.h"
#include "trayicon.h"
#include "windowharness.h"

#include <QAction>
#include <QApplication>
#include <QColor>
#include <QMenu>
#include <QQmlPropertyMap>
#include <QQuickWindow>
#include <QtTest>

using namespace WindowTest;

namespace
{
QVariantMap snapshot()
{
    QSettings s;
    QVariantMap all;
    for (const QString &key : s.allKeys())
        all.insert(key, s.value(key).toString());
    return all;
}
} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        installMessageHandler();
        // Whatever address a case stores, nothing is pinged beyond loopback.
        ping.reset(new PingStandIn);
    }
    void cleanupTestCase() { ping.reset(); }
    void init() { startCase(); }
    void cleanup() { verifyNoQmlProblems(); }

    void windowAndTrayMenu()
    {
        Harness h;
        QVERIFY(h.load());
        auto *window = qobject_cast<QQuickWindow *>(h.root);
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        QVERIFY(window && tray && tray->contextMenu());
        QCOMPARE(window->title(), QStringLiteral("USB Tovel v3.3.4"));
        QCOMPARE(window->width(), 580);
        QCOMPARE(window->minimumWidth(), 580);
        QCOMPARE(window->maximumWidth(), 580);
        QCOMPARE(window->height(), 540);
        // No tray on this platform: the window shows whatever "visible" says.
        QVERIFY(window->isVisible());
        QCOMPARE(tray->iconResource(), QStringLiteral("tovel3.png"));
        QVERIFY(tray->isVisible());

        QStringList entries;
        for (QAction *a : tray->contextMenu()->actions())
            entries << (a->isSeparator() ? QStringLiteral("-")
                                         : a->text() + "=" + a->data().toString());
        QCOMPARE(entries,
                 (QStringList{"Hide=hide", "Show=show", "-", "Test Reset=T1", "Test Power=T2", "-",
                              "Export Settings=ES", "Import Settings=IS", "View log=L", "-",
                              "Firmware Update=D", "About=A", "Quit=Q"}));
    }

    // What the store holds reaches the controls of every page and the engine
    // the pages show; loading the window changes nothing in the store.
    void startUpShowsTheStore_data()
    {
        QTest::addColumn<QVariantMap>("store");
        QTest::addColumn<QVariantMap>("shown"); // expression in the window -> value
        QTest::addColumn<bool>("storeKept");

        QTest::newRow("fresh") << QVariantMap()
                               << QVariantMap{{"page3.hideSwitch.checked", false},
                                              {"page3.softwareSwitch.checked", false},
                                              {"page3.legacySwitch.checked", false},
                                              {"page1.checkBox_l.checked", true},
                                              {"page1.checkBox_p.checked", false},
                                              {"page1.urlCheckBox.checked", false},
                                              {"page1.urlField.text", "disabled"},
                                              {"page1.monitorCheckBox.checked", false},
                                              {"page1.groupContolBox.checked", false},
                                              {"page1.pingTimeoutSlider.value", 1000},
                                              {"heartbeat.networkCheck", false}}
                               << false;
        QTest::newRow("stored")
            << QVariantMap{{"visible", false},  {"softgl", true},       {"legacy", true},
                           {"ledoff", true},    {"timerstop", true},    {"monitor", "someprocess"},
                           {"monitoron", true}, {"manualon", true},     {"ping/url", "127.0.0.1"},
                           {"ping/on", true},   {"ping/timeout", 1350}, {"logging/network", true}}
            << QVariantMap{{"mainwindow.visible", true}, // no tray: never hidden
                           {"page3.hideSwitch.checked", true},
                           {"page3.softwareSwitch.checked", true},
                           {"page3.legacySwitch.checked", true},
                           {"page3.logSwitch.checked", true},
                           {"page1.checkBox_l.checked", false},
                           {"page1.checkBox_p.checked", true},
                           {"page1.monitorCheckBox.checked", true},
                           {"page1.monitorField.text", "someprocess"},
                           {"page1.groupContolBox.checked", true},
                           {"page1.urlCheckBox.checked", true},
                           {"page1.urlField.text", "127.0.0.1"},
                           {"page1.pingTimeoutSlider.value", 1350},
                           {"heartbeat.networkCheck", true},
                           {"heartbeat.pingTimeout", 1350},
                           {"heartbeat.processName", "someprocess"},
                           {"heartbeat.logNetwork", true}}
            << true;
        QTest::newRow("old address converted")
            << QVariantMap{{"url", "10.0.0.1"}}
            << QVariantMap{{"page1.urlCheckBox.checked", true}, {"page1.urlField.text", "10.0.0.1"}}
            << false;
        QTest::newRow("old localhost converted")
            << QVariantMap{{"url", "localhost"}}
            << QVariantMap{{"page1.urlCheckBox.checked", false},
                           {"page1.urlField.text", "disabled"}}
            << false;
        QTest::newRow("network check without an address")
            << QVariantMap{{"ping/url", ""}, {"ping/on", true}}
            << QVariantMap{{"page1.urlCheckBox.checked", false},
                           {"page1.urlField.text", "disabled"},
                           {"heartbeat.networkCheck", false}}
            << true;
        QTest::newRow("process check without a name")
            << QVariantMap{{"monitoron", true}, {"ping/url", "127.0.0.1"}}
            << QVariantMap{{"page1.monitorCheckBox.checked", false}} << true;
    }

    void startUpShowsTheStore()
    {
        QFETCH(QVariantMap, store);
        QFETCH(QVariantMap, shown);
        QFETCH(bool, storeKept);

        writeSettings(store);
        Harness h;
        const QVariantMap before = snapshot();
        QVERIFY(h.load());
        for (auto it = shown.cbegin(); it != shown.cend(); ++it)
            QTRY_COMPARE_WITH_TIMEOUT(h.eval(it.key()).toString(), it.value().toString(), 1000);
        if (storeKept)
            QCOMPARE(snapshot(), before);
    }

    // One cycle with a two-channel board: the lamp on the main page and the
    // tray icon turn yellow at the heartbeat, green at the board's answer and
    // go out half a second later; the page shows the board and its reading.
    void oneHeartbeatLightsTheLampAndTheTrayIcon()
    {
        Harness h;
        BoardSimulator *board = h.addBoard(BoardSimulator::X2);
        QVERIFY(board);
        QVERIFY(h.load());
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        QObject *lamp = Harness::control(h.page1, "statusIndicator");
        QVERIFY(tray && lamp);
        QCOMPARE(lamp->property("active").toBool(), false);

        h.setCycle(100);
        QTRY_COMPARE(h.eval("page1.label_info.text").toString(),
                     QStringLiteral("Type: Ostrel X2, Version: 3.1, Channels: 2"));
        h.setCycle(800);
        QCOMPARE(h.journalCount("Ostrel X2 v3.1U connected"), 1);

        struct Event {
            qint64 ms;
            QString icon;
            QColor color;
            bool active;
        };
        // Taken once the window has seen each change of the cycle's lamp.
        QVector<Event> events;
        auto *cycle = qobject_cast<QQmlPropertyMap *>(h.eval("heartbeat").value<QObject *>());
        QVERIFY(cycle);
        QObject::connect(cycle, &QQmlPropertyMap::valueChanged, [&](const QString &key) {
            if (key == QLatin1String("lamp"))
                events.append({QDateTime::currentMSecsSinceEpoch(), tray->iconResource(),
                               lamp->property("color").value<QColor>(),
                               lamp->property("active").toBool()});
        });
        QVector<qint64> acks;
        QObject::connect(board, &BoardSimulator::replySent, [&](const QByteArray &bytes) {
            if (bytes.startsWith("~A"))
                acks << QDateTime::currentMSecsSinceEpoch();
        });
        // From a dark lamp, one full cycle.
        QTRY_COMPARE_WITH_TIMEOUT(tray->iconResource(), QStringLiteral("tovel3.png"), 2000);
        events.clear();
        acks.clear();
        QTRY_VERIFY_WITH_TIMEOUT(events.size() >= 3, 2000);
        h.setCycle(Heartbeat::defaultInterval);

        QCOMPARE(events[0].icon, QStringLiteral("tovel3_y.png"));
        QCOMPARE(events[0].color, QColor("#f8eb2d"));
        QVERIFY(events[0].active);
        QCOMPARE(events[1].icon, QStringLiteral("tovel3_g.png"));
        QCOMPARE(events[1].color, QColor("#2aff00"));
        QVERIFY(events[1].active);
        QCOMPARE(events[2].icon, QStringLiteral("tovel3.png"));
        QVERIFY(!events[2].active);
        QCOMPARE(acks.size(), 1);
        const qint64 unlit = events[2].ms - acks[0];
        QVERIFY2(unlit >= 450 && unlit <= 1000,
                 qPrintable(QString("unlit %1 ms after the reply").arg(unlit)));
        // The two-channel heartbeat reads the input too.
        QCOMPARE(board->receivedTexts().mid(board->receivedTexts().lastIndexOf("~U"), 2),
                 (QList<QByteArray>{"~U", "~G"}));
        QTRY_COMPARE(h.eval("page1.get_in_label.text").toString(),
                     QStringLiteral("TEMP: 23.5\u2103"));
    }

    // What the window builds after its first frame is there at once for an
    // action that comes before: the tray's "View log", a field's menu, the
    // process list.
    void deferredPartsAreBuiltWhenNeededEarlier()
    {
        Harness h;
        QVERIFY(h.load(false));
        QTest::qWait(300);
        QVERIFY(h.eval("page3 === null && page1.urlFieldMenu === null").toBool());
        QVERIFY(h.eval("applicationPage() !== null && page3.objectName === 'page3'").toBool());
        QVERIFY(h.eval("page3.hideSwitch.checked === !appSettings.showAtStart").toBool());
        h.eval("page1.ensureExtras()");
        QVERIFY(
            h.eval("page1.urlFieldMenu !== null && page1.selectProcessDialog !== null").toBool());
        QVERIFY(h.eval("page2 === null").toBool());
    }

    // What the application page stores for the cycle takes effect at once.
    void checkLoggingReachesTheCycle()
    {
        Harness h;
        QVERIFY(h.load());
        QCOMPARE(h.eval("heartbeat.logNetwork").toBool(), false);
        h.eval("page3.logSetupDialog.open()");
        QTRY_VERIFY(h.eval("page3.logSetupDialog.opened").toBool());
        h.eval("page3.logSetupDialog.logNetSwitch.checked = true");
        h.eval("page3.logSetupDialog.accept()");
        QTRY_VERIFY(h.eval("heartbeat.logNetwork").toBool());
        QVERIFY(!h.eval("heartbeat.logProcess").toBool());
    }

    void trayCommandsReachTheBoard()
    {
        Harness h;
        BoardSimulator *board = h.addBoard(BoardSimulator::X2);
        QVERIFY(board);
        QVERIFY(h.load());
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        const QList<QPair<QString, QByteArray>> actions = {
            {"T1", "~T1"}, {"T2", "~T2"}, {"D", "~D"}};
        for (const auto &action : actions) {
            emit tray->triggered(action.first);
            QTRY_COMPARE(h.received(action.second), 1);
        }
    }

    void windowStaysReachableWithoutATray()
    {
        Harness h;
        QVERIFY(h.load());
        auto *window = qobject_cast<QQuickWindow *>(h.root);
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        QVERIFY(window && tray);
        QVERIFY(!tray->available());

        emit tray->triggered(QStringLiteral("hide"));
        QVERIFY(window->isVisible());
        emit tray->iconClicked();
        QVERIFY(window->isVisible());
        window->close();
        QCoreApplication::processEvents();
        QVERIFY(window->isVisible());
        QCOMPARE(window->visibility(), QWindow::Minimized);
        emit h.server.incomingMessage(QStringLiteral("show"));
        QCOMPARE(window->visibility(), QWindow::Windowed);

        // Hidden by other means, the next cycle brings it back.
        window->hide();
        h.setCycle(100);
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 2000);
    }

    void secondStartShowsTheWindow()
    {
        Harness h;
        QVERIFY(h.load());
        auto *window = qobject_cast<QQuickWindow *>(h.root);
        window->hide();
        emit h.server.incomingMessage(QStringLiteral("hello"));
        QVERIFY(!window->isVisible());
        emit h.server.incomingMessage(QStringLiteral("show"));
        QVERIFY(window->isVisible());
        QCOMPARE(consoleCount("Got message from local socket: hello"), 1);
        QCOMPARE(consoleCount("Got message from local socket: show"), 1);
    }

    void aboutAndTabsAndQuit()
    {
        Harness h;
        QVERIFY(h.load());
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        QObject *tabBar = h.child("tabBar");
        QObject *stack = h.child("swipeView");
        QVERIFY(tabBar && stack);
        QCOMPARE(stack->property("currentIndex").toInt(), 0);

        h.root->setProperty("visible", false);
        emit tray->triggered(QStringLiteral("A"));
        QVERIFY(h.root->property("visible").toBool());
        QCOMPARE(tabBar->property("currentIndex").toInt(), 2);
        QCOMPARE(stack->property("currentIndex").toInt(), 2);

        // Either side of the binding moves the other.
        stack->setProperty("currentIndex", 0);
        QCOMPARE(tabBar->property("currentIndex").toInt(), 0);
        QMetaObject::invokeMethod(tabBar, "setCurrentIndex", Q_ARG(int, 2));
        QCOMPARE(stack->property("currentIndex").toInt(), 2);

        QVERIFY(!h.quitRequested);
        emit tray->triggered(QStringLiteral("Q"));
        QVERIFY(h.quitRequested);
    }

    void exportThenImportThroughRealFiles()
    {
        const QString russian = QStringLiteral("Проверка процесса");
        writeSettings(
            {{"monitor", russian}, {"t1", 7}, {"ping/url", "127.0.0.1"}, {"ping/on", false}});
        Harness h;
        QVERIFY(h.load());
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        QObject *dialog = h.child("fileDialog");
        QObject *message = h.child("warnCloseDialog");
        QVERIFY(dialog && message);

        // Export: a name without a suffix gets ".ini".
        emit tray->triggered(QStringLiteral("ES"));
        QVERIFY(dialog->property("ifexport").toBool());
        const QString exported = h.dir.path() + QStringLiteral("/saved");
        dialog->setProperty("currentFile", QUrl::fromLocalFile(exported));
        QVERIFY(QMetaObject::invokeMethod(dialog, "accept"));
        QTRY_VERIFY(QFile::exists(exported + ".ini"));
        {
            QSettings ini(exported + ".ini", QSettings::IniFormat);
            QCOMPARE(ini.value("monitor").toString(), russian);
            QCOMPARE(ini.value("t1").toInt(), 7);
        }
        QVERIFY(!h.quitRequested);

        // Changed afterwards, then the exported file is imported back.
        writeSettings({{"monitor", "changed"}, {"t1", 2}});
        emit tray->triggered(QStringLiteral("IS"));
        QVERIFY(!dialog->property("ifexport").toBool());
        dialog->setProperty("currentFile", QUrl::fromLocalFile(exported + ".ini"));
        QVERIFY(QMetaObject::invokeMethod(dialog, "accept"));
        QTRY_COMPARE(message->property("text").toString(),
                     QStringLiteral("Settings have been imported. The application will be closed"));
        QVERIFY(message->property("appclose").toBool());
        QCOMPARE(stored("monitor"), russian);
        QCOMPARE(stored("t1"), QStringLiteral("7"));
        QVERIFY(!h.quitRequested);
        QVERIFY(QMetaObject::invokeMethod(message, "accept"));
        QVERIFY(h.quitRequested);
    }

    void failedImportKeepsRunning()
    {
        Harness h;
        QVERIFY(h.load());
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        QObject *dialog = h.child("fileDialog");
        QObject *message = h.child("warnCloseDialog");
        const QString broken = h.dir.path() + QStringLiteral("/broken.ini");
        {
            QFile f(broken);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("\x00\x01\x02\xff\xfe[General\x00", 12));
        }
        writeSettings({{"monitor", "kept"}});
        emit tray->triggered(QStringLiteral("IS"));
        dialog->setProperty("currentFile", QUrl::fromLocalFile(broken));
        QVERIFY(QMetaObject::invokeMethod(dialog, "accept"));
        QTRY_COMPARE(message->property("text").toString(),
                     QStringLiteral("Settings import failed"));
        QVERIFY(!message->property("appclose").toBool());
        QVERIFY(QMetaObject::invokeMethod(message, "accept"));
        QVERIFY(!h.quitRequested);
        QCOMPARE(stored("monitor"), QStringLiteral("kept"));
    }

private:
    std::unique_ptr<PingStandIn> ping;
};

TOVEL3_TEST_MAIN(TestWindow)
#include "tst_window.moc"
