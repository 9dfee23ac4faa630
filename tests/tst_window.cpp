// The main window without a board: start-up initialisation from the store,
// the one-time conversion of the old address, the tray menu, the reaction to
// a second start, and settings export and import through real files.

#include "testenvironment.h"
#include "trayicon.h"
#include "windowharness.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QQuickWindow>
#include <QtTest>

using namespace WindowTest;

namespace
{
bool checked(QObject *page, const char *name)
{
    QObject *o = Harness::control(page, name);
    return o && o->property("checked").toBool();
}

QString textOf(QObject *page, const char *name)
{
    QObject *o = Harness::control(page, name);
    return o ? o->property("text").toString() : QStringLiteral("<missing>");
}

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

    void freshStoreStartsWithDefaults()
    {
        Harness h;
        QVERIFY(h.load());
        auto *window = qobject_cast<QQuickWindow *>(h.root);
        QVERIFY(window);
        QCOMPARE(window->title(), QStringLiteral("USB Tovel v3.3.4"));
        QCOMPARE(window->width(), 580);
        QCOMPARE(window->minimumWidth(), 580);
        QCOMPARE(window->maximumWidth(), 580);
        QCOMPARE(window->height(), 540);
        // No tray on this platform: the window shows whatever "visible" says.
        QVERIFY(window->isVisible());

        QVERIFY(!checked(h.page3, "hideSwitch"));
        QVERIFY(!checked(h.page3, "softwareSwitch"));
        QVERIFY(!checked(h.page3, "legacySwitch"));
        QVERIFY(checked(h.page1, "checkBox_l"));
        QVERIFY(!checked(h.page1, "checkBox_p"));
        QVERIFY(!checked(h.page1, "urlCheckBox"));
        QCOMPARE(textOf(h.page1, "urlField"), QStringLiteral("disabled"));
        QVERIFY(!checked(h.page1, "monitorCheckBox"));
        QVERIFY(!checked(h.page1, "groupContolBox"));

        QCOMPARE(consoleCount("Converting old URL setting to ping/url"), 1);
        QCOMPARE(stored("ping/on"), QStringLiteral("false"));
        QCOMPARE(stored("ping/url"), QStringLiteral("127.0.0.1"));
        QVERIFY(!isStored("url"));
        QCOMPARE(h.tray->property("iconSource").toString(), QStringLiteral("tovel3.png"));
        QVERIFY(h.tray->property("visible").toBool());
    }

    void trayMenuHasItsTenEntries()
    {
        Harness h;
        QVERIFY(h.load());
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        QVERIFY(tray && tray->contextMenu());
        QStringList entries;
        for (QAction *a : tray->contextMenu()->actions())
            entries << (a->isSeparator() ? QStringLiteral("-")
                                         : a->text() + "=" + a->data().toString());
        QCOMPARE(entries,
                 (QStringList{"Hide=hide", "Show=show", "-", "Test Reset=T1", "Test Power=T2", "-",
                              "Export Settings=ES", "Import Settings=IS", "View log=L", "-",
                              "Firmware Update=D", "About=A", "Quit=Q"}));
    }

    void oldAddressIsConvertedOnce_data()
    {
        QTest::addColumn<QVariantMap>("store");
        QTest::addColumn<bool>("converted");
        QTest::addColumn<QString>("pingOn");
        QTest::addColumn<QString>("pingUrl");
        QTest::addColumn<bool>("boxChecked");
        QTest::addColumn<QString>("field");

        QTest::newRow("old address") << QVariantMap{{"url", "10.0.0.1"}} << true << "true"
                                     << "10.0.0.1" << true << "10.0.0.1";
        QTest::newRow("old localhost") << QVariantMap{{"url", "localhost"}} << true << "false"
                                       << "127.0.0.1" << false << "disabled";
        QTest::newRow("old empty") << QVariantMap{{"url", ""}} << true << "false"
                                   << "127.0.0.1" << false << "disabled";
        QTest::newRow("already converted")
            << QVariantMap{{"url", "10.9.9.9"}, {"ping/url", "10.0.0.2"}, {"ping/on", true}}
            << false << "true"
            << "10.0.0.2" << true << "10.0.0.2";
        QTest::newRow("enabled without address")
            << QVariantMap{{"ping/url", ""}, {"ping/on", true}} << false << "true"
            << "" << false << "disabled";
    }

    void oldAddressIsConvertedOnce()
    {
        QFETCH(QVariantMap, store);
        QFETCH(bool, converted);
        QFETCH(QString, pingOn);
        QFETCH(QString, pingUrl);
        QFETCH(bool, boxChecked);
        QFETCH(QString, field);

        writeSettings(store);
        Harness h;
        QVERIFY(h.load());
        QCOMPARE(consoleCount("Converting old URL setting to ping/url"), converted ? 1 : 0);
        QCOMPARE(isStored("url"), store.contains("url") && !converted);
        QCOMPARE(checked(h.page1, "urlCheckBox"), boxChecked);
        QCOMPARE(textOf(h.page1, "urlField"), field);
        QCOMPARE(stored("ping/on"), pingOn);
        QCOMPARE(stored("ping/url"), pingUrl);
    }

    void storedStatesReachTheControlsAndStayStored()
    {
        Harness h;
        writeSettings({{"visible", false},
                       {"softgl", true},
                       {"legacy", false},
                       {"ledoff", true},
                       {"timerstop", true},
                       {"monitor", "someprocess"},
                       {"monitoron", true},
                       {"manualon", true},
                       {"ping/url", "127.0.0.1"},
                       {"ping/on", true},
                       {"ping/timeout", 1350},
                       {"logging/network", true}});
        const QVariantMap before = snapshot();
        QVERIFY(h.load());
        QVERIFY(h.root->property("visible").toBool()); // no tray: never hidden
        QVERIFY(checked(h.page3, "hideSwitch"));
        QVERIFY(checked(h.page3, "softwareSwitch"));
        QVERIFY(!checked(h.page3, "legacySwitch"));
        QVERIFY(checked(h.page3, "logSwitch"));
        QVERIFY(!checked(h.page1, "checkBox_l"));
        QVERIFY(checked(h.page1, "checkBox_p"));
        QVERIFY(checked(h.page1, "monitorCheckBox"));
        QCOMPARE(textOf(h.page1, "monitorField"), QStringLiteral("someprocess"));
        QVERIFY(checked(h.page1, "groupContolBox"));
        QVERIFY(checked(h.page1, "urlCheckBox"));
        QCOMPARE(h.child("process")->property("timeout").toInt(), 1350);
        QCOMPARE(snapshot(), before);
    }

    void processCheckNeedsAName()
    {
        writeSettings({{"monitoron", true}});
        Harness h;
        QVERIFY(h.load());
        QVERIFY(!checked(h.page1, "monitorCheckBox"));
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
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 4000);
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
