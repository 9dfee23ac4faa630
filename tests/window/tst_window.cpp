// The whole main window as the program loads it: start-up from the store, the
// tray menu, one heartbeat with a simulated board lighting the lamp and the
// tray icon, the reaction to a second start, settings export and import
// through real files, and the window used by keyboard alone.

#include "monitor/heartbeat.h"
#include "support/pingstandin.h"
#include "support/testenvironment.h"
#include "support/windowharness.h"
#include "tray/trayicon.h"

#include <QAction>
#include <QApplication>
#include <QColor>
#include <QDesktopServices>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QQmlContext>
#include <QQmlPropertyMap>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScopeGuard>
#include <QScreen>
#include <QtTest>

#include <utility>

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

// The QML id of the item or of the nearest item above it that has one; a
// button without one goes by its text.
QString nameOf(QQuickItem *item)
{
    if (!item)
        return QStringLiteral("(none)");
    if (item->inherits("QQuickAbstractButton") && !item->property("text").toString().isEmpty()) {
        const QQmlContext *context = qmlContext(item);
        if (!context || context->nameForObject(item).isEmpty())
            return item->property("text").toString();
    }
    for (QQuickItem *i = item; i; i = i->parentItem()) {
        const QQmlContext *context = qmlContext(i);
        const QString id = context ? context->nameForObject(i) : QString();
        if (!id.isEmpty())
            return id;
    }
    return QString::fromLatin1(item->metaObject()->className());
}

// The tab that shows a control given as "pageN.id".
int tabOf(const QString &control)
{
    return control.startsWith("page2.") ? 1 : control.startsWith("page3.") ? 2 : 0;
}

bool onlyHeartbeats(const QList<QByteArray> &received)
{
    for (const QByteArray &text : received) {
        if (text != "~U" && text != "~G")
            return false;
    }
    return true;
}
} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl &url) { openedUrls << url; }

private slots:
    void initTestCase() { installMessageHandler(); }
    void init() { startCase(); }
    void cleanup() { verifyNoQmlProblems(); }

    void windowAndTrayMenu()
    {
        Harness h;
        QVERIFY(h.load());
        auto *window = h.window();
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
                                              {"HeartbeatState.networkCheck", false}}
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
                           {"HeartbeatState.networkCheck", true},
                           {"HeartbeatState.pingTimeout", 1350},
                           {"HeartbeatState.processName", "someprocess"},
                           {"HeartbeatState.logNetwork", true}}
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
                           {"HeartbeatState.networkCheck", false}}
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
        auto *cycle = qobject_cast<QQmlPropertyMap *>(h.eval("HeartbeatState").value<QObject *>());
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

        // The tray menu's board commands reach it.
        for (const auto &action :
             QList<QPair<QString, QByteArray>>{{"T1", "~T1"}, {"T2", "~T2"}, {"D", "~D"}}) {
            emit tray->triggered(action.first);
            QTRY_COMPARE(h.received(action.second), 1);
        }
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
        QVERIFY(h.eval("page3.hideSwitch.checked === !Settings.showAtStart").toBool());
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
        QCOMPARE(h.eval("HeartbeatState.logNetwork").toBool(), false);
        h.eval("page3.logSetupDialog.open()");
        QTRY_VERIFY(h.eval("page3.logSetupDialog.opened").toBool());
        h.eval("page3.logSetupDialog.logNetSwitch.checked = true");
        h.eval("page3.logSetupDialog.accept()");
        QTRY_VERIFY(h.eval("HeartbeatState.logNetwork").toBool());
        QVERIFY(!h.eval("HeartbeatState.logProcess").toBool());
    }

    void windowStaysReachableWithoutATray()
    {
        Harness h;
        QVERIFY(h.load());
        auto *window = h.window();
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

        // A second start shows it; other messages do not.
        window->hide();
        emit h.server.incomingMessage(QStringLiteral("hello"));
        QVERIFY(!window->isVisible());
        emit h.server.incomingMessage(QStringLiteral("show"));
        QVERIFY(window->isVisible());
        QCOMPARE(consoleCount("Got message from local socket: hello"), 1);
        QCOMPARE(consoleCount("Got message from local socket: show"), 2);

        // Hidden by other means, the next cycle brings it back.
        window->hide();
        h.setCycle(100);
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 2000);
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

        h.root()->setProperty("visible", false);
        emit tray->triggered(QStringLiteral("A"));
        QVERIFY(h.root()->property("visible").toBool());
        QCOMPARE(tabBar->property("currentIndex").toInt(), 2);
        QCOMPARE(stack->property("currentIndex").toInt(), 2);

        // Either side of the binding moves the other.
        stack->setProperty("currentIndex", 0);
        QCOMPARE(tabBar->property("currentIndex").toInt(), 0);
        QMetaObject::invokeMethod(tabBar, "setCurrentIndex", Q_ARG(int, 2));
        QCOMPARE(stack->property("currentIndex").toInt(), 2);

        QVERIFY(!h.quitRequested());
        emit tray->triggered(QStringLiteral("Q"));
        QVERIFY(h.quitRequested());
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
        QVERIFY(!h.quitRequested());

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
        QVERIFY(!h.quitRequested());
        QVERIFY(QMetaObject::invokeMethod(message, "accept"));
        QVERIFY(h.quitRequested());
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
        QVERIFY(!h.quitRequested());
        QCOMPARE(stored("monitor"), QStringLiteral("kept"));
    }

    // Tab reaches every action of each page, and only what the page shows.
    void tabReachesEveryAction()
    {
        Harness h;
        QVERIFY(loadUsable(h));
        const QVector<QStringList> expected = {
            {"Main", "portsCombo", "scanbtn", "urlCheckBox", "urlField", "monitorCheckBox",
             "monitorField", "processListTool", "groupContolBox", "checkBox_p", "remote_btn_m1",
             "remote_btn_m2", "checkBox_l", "ch1Switch", "ch2Switch", "pingTimeoutSlider"},
            {"Settings", "t1Box", "t2Box", "t3Box", "t4Box", "t5Box", "p6Box", "p7Box",
             "readbutton", "writebutton", "p8Box", "p9Box", "p10spinBox"},
            {"Application", "text1", "autostartSwitch", "hideSwitch", "softwareSwitch",
             "legacySwitch", "logSwitch", "logSetupText", "logViewText", "updateLink", "notesLink",
             "langCombo"}};
        for (int tab = 0; tab < expected.size(); ++tab) {
            h.eval(QString("tabBar.currentIndex = %1").arg(tab));
            QTRY_VERIFY(page(h, tab)->isVisible());
            if (tab == 1) // Write is offered once the board's settings are read
                QTRY_VERIFY(h.eval("page2.writebutton.enabled").toBool());
            QQuickItem *start = h.item(QString("tabBar.itemAt(%1)").arg(tab));
            start->forceActiveFocus(Qt::TabFocusReason);
            QStringList visited{nameOf(h.window()->activeFocusItem())};
            for (int i = 0; i < 60; ++i) {
                QTest::keyClick(h.window(), Qt::Key_Tab);
                QQuickItem *focused = h.window()->activeFocusItem();
                if (focused == start)
                    break;
                QVERIFY2(focused && focused->isVisible(), qPrintable(nameOf(focused)));
                QVERIFY2(!focused->isAncestorOf(start) &&
                             (focused->parentItem() == nullptr || !isOnOtherTab(h, focused, tab)),
                         qPrintable(nameOf(focused)));
                visited << nameOf(focused);
            }
            QStringList missing;
            for (const QString &name : expected[tab]) {
                if (!visited.contains(name))
                    missing << name;
            }
            QVERIFY2(missing.isEmpty(), qPrintable("not reached: " + missing.join(", ") +
                                                   "; reached: " + visited.join(", ")));
        }
    }

    // Enter and Return run the focused control as Space and a click do; the
    // control shows a mark while it has the focus from the keyboard.
    void enterRunsTheFocusedAction_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("done");       // true once the action ran
        QTest::addColumn<QByteArray>("command"); // what the board gets, if anything
        QTest::newRow("Suspend") << "page1.checkBox_p" << int(Qt::Key_Enter)
                                 << "page1.checkBox_p.checked" << QByteArray("~P1");
        QTest::newRow("Remote Reset")
            << "page1.remote_btn_m1" << int(Qt::Key_Return) << "true" << QByteArray("~M1");
        QTest::newRow("Manual Control") << "page1.groupContolBox" << int(Qt::Key_Enter)
                                        << "!page1.groupContolBox.checked" << QByteArray();
        QTest::newRow("port list") << "page1.portsCombo" << int(Qt::Key_Return)
                                   << "page1.portsCombo.popup.visible" << QByteArray();
        QTest::newRow("process list") << "page1.processListTool" << int(Qt::Key_Enter)
                                      << "page1.selectProcessDialog.opened" << QByteArray();
        QTest::newRow("Settings tab") << "tabBar.itemAt(1)" << int(Qt::Key_Return)
                                      << "swipeView.currentIndex === 1" << QByteArray("~F");
        QTest::newRow("web site") << "page3.text1" << int(Qt::Key_Enter)
                                  << "page3.text1.firstLink !== ''" << QByteArray();
        QTest::newRow("Configure") << "page3.logSetupText" << int(Qt::Key_Return)
                                   << "page3.logSetupDialog.opened" << QByteArray();
        QTest::newRow("Check for updates") << "page3.updateLink" << int(Qt::Key_Enter)
                                           << "page3.updateText.text !== ''" << QByteArray();
        QTest::newRow("Release notes") << "page3.notesLink" << int(Qt::Key_Return)
                                       << "page3.notesDialog.opened" << QByteArray();
    }

    void enterRunsTheFocusedAction()
    {
        QFETCH(QString, control);
        QFETCH(int, key);
        QFETCH(QString, done);
        QFETCH(QByteArray, command);
        QDesktopServices::setUrlHandler("https", this, "openUrl");
        auto unset = qScopeGuard([] { QDesktopServices::unsetUrlHandler("https"); });
        openedUrls.clear();
        Harness h;
        QVERIFY(loadUsable(h));
        const int tab = tabOf(control);
        h.eval(QString("tabBar.currentIndex = %1").arg(tab));
        QQuickItem *target = h.item(control);
        QTRY_VERIFY(target && target->isVisible());
        QVERIFY(!h.eval(done).toBool() || done == "true" || control == "page3.text1");
        h.board->clearReceived();

        // A click gives the focus without the mark.
        QQuickItem *shown = h.item(QString("tabBar.itemAt(%1)").arg(tab));
        QTest::mouseClick(
            h.window(), Qt::LeftButton, Qt::NoModifier,
            shown->mapToScene(QPointF(shown->width() / 2, shown->height() / 2)).toPoint());
        QTRY_COMPARE(h.window()->activeFocusItem(), shown);
        QVERIFY(!h.eval("focusMark.visible").toBool());

        target->forceActiveFocus(Qt::TabFocusReason);
        QVERIFY(h.eval("focusMark.visible").toBool());
        QCOMPARE(h.eval("focusMark.parent").value<QObject *>(), target);
        QTest::keyClick(h.window(), Qt::Key(key));
        QTRY_VERIFY2(h.eval(done).toBool(), qPrintable(done));
        if (!command.isEmpty())
            QTRY_VERIFY(h.board->receivedTexts().contains(command));
        else
            QVERIFY(onlyHeartbeats(h.board->receivedTexts()));
        if (control == "page3.text1")
            QTRY_COMPARE(openedUrls, QList<QUrl>{QUrl(h.eval(done.section(' ', 0, 0)).toString())});
    }

    // While a dialog is open it has the keyboard: keys typed in it reach
    // nothing behind it (the board gets no command, the store stays as it
    // is), and the control that opened it has the focus again once it closes.
    void dialogsHoldTheKeyboard_data()
    {
        QTest::addColumn<QString>("opener"); // Space on it opens the dialog
        QTest::addColumn<QString>("dialog"); // empty: a message box of the system
        QTest::newRow("Select a Process") << "page1.processListTool"
                                          << "page1.selectProcessDialog";
        QTest::newRow("Setup Logging") << "page3.logSetupText"
                                       << "page3.logSetupDialog";
        QTest::newRow("Release notes") << "page3.notesLink"
                                       << "page3.notesDialog";
        QTest::newRow("Log file not found") << "page3.logViewText" << QString();
    }

    void dialogsHoldTheKeyboard()
    {
        QFETCH(QString, opener);
        QFETCH(QString, dialog);
        Harness h;
        QVERIFY(loadUsable(h));
        QFile::remove(h.journal.getLogFile());
        h.eval(QString("tabBar.currentIndex = %1").arg(tabOf(opener)));
        QQuickItem *source = h.item(opener);
        QTRY_VERIFY(source && source->isVisible());
        source->forceActiveFocus(Qt::TabFocusReason);
        QTest::keyClick(h.window(), Qt::Key_Space);
        QMessageBox *box = nullptr;
        if (dialog.isEmpty())
            QTRY_VERIFY((box = shownMessageBox()));
        else
            QTRY_VERIFY(h.eval(dialog + ".opened").toBool());

        const QVariantMap stored = snapshot();
        const int tab = h.eval("swipeView.currentIndex").toInt();
        h.board->clearReceived();
        // Every key that moves or acts on the page, and a few more.
        const QList<Qt::Key> keys = {Qt::Key_Tab, Qt::Key_Tab,   Qt::Key_Tab, Qt::Key_Backtab,
                                     Qt::Key_Tab, Qt::Key_Tab,   Qt::Key_Tab, Qt::Key_Tab,
                                     Qt::Key_Up,  Qt::Key_Right, Qt::Key_A,   Qt::Key_Tab};
        for (Qt::Key key : keys) {
            QTest::keyClick(h.window(), key);
            if (box) {
                QVERIFY(box->isVisible());
                QCOMPARE(QApplication::activeModalWidget(), box);
            } else {
                QVERIFY2(h.eval(dialog + ".activeFocus").toBool(),
                         qPrintable(nameOf(h.window()->activeFocusItem())));
            }
        }
        // What the issue saw: Tab, Tab, Tab, Space sent Remote Reset.
        if (box) {
            for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Space})
                QTest::keyClick(h.window(), key);
            QTest::keyClick(box, Qt::Key_Escape);
            QTRY_VERIFY(!box->isVisible());
        } else {
            QTest::keyClick(h.window(), Qt::Key_Escape);
            QTRY_VERIFY(!h.eval(dialog + ".visible").toBool());
        }
        QTest::qWait(100);
        QVERIFY2(onlyHeartbeats(h.board->receivedTexts()),
                 h.board->receivedTexts().join(' ').constData());
        QCOMPARE(snapshot(), stored);
        QCOMPARE(h.eval("swipeView.currentIndex").toInt(), tab);
        // A desktop activates the window again once its message box is gone;
        // here nothing does.
        if (box)
            h.window()->requestActivate();
        QTRY_COMPARE(h.window()->activeFocusItem(), source);
    }

    // The process list is used by keyboard: the arrows move along it, Enter
    // takes the process under the mark.
    void processPickedByKeyboard()
    {
        Harness h;
        QVERIFY(loadUsable(h));
        QQuickItem *tool = h.item("page1.processListTool");
        tool->forceActiveFocus(Qt::TabFocusReason);
        QTest::keyClick(h.window(), Qt::Key_Space);
        QTRY_VERIFY(h.eval("page1.selectProcessDialog.opened").toBool());
        QTRY_VERIFY(h.eval("page1.processList.count > 2 && !page1.bHolder.running").toBool());
        QVERIFY(h.eval("page1.processList.activeFocus").toBool());
        // Tab goes round the list and the dialog's button.
        QTest::keyClick(h.window(), Qt::Key_Tab);
        QCOMPARE(nameOf(h.window()->activeFocusItem()),
                 QCoreApplication::translate("QPlatformTheme", "Cancel"));
        QTest::keyClick(h.window(), Qt::Key_Tab);
        QVERIFY(h.eval("page1.processList.activeFocus").toBool());
        QTest::keyClick(h.window(), Qt::Key_Down);
        QTest::keyClick(h.window(), Qt::Key_Down);
        QTRY_VERIFY(h.eval("page1.processList.currentItem.marked").toBool());
        const QString chosen = h.eval("page1.processList.currentItem.processName").toString();
        const QString owner = h.eval("page1.processList.currentItem.processOwner").toString();
        QVERIFY(!chosen.isEmpty() && !owner.isEmpty());
        QTest::keyClick(h.window(), Qt::Key_Return);
        QTRY_VERIFY(!h.eval("page1.selectProcessDialog.visible").toBool());
        QCOMPARE(h.eval("page1.monitorField.text").toString(), chosen);
        QCOMPARE(stored("monitor"), chosen);
        QCOMPARE(stored("monitorowner"), owner);
        QTRY_COMPARE(h.window()->activeFocusItem(), tool);
    }

    // The halo round a focused check box or switch is round, also in
    // software rendering (the test's renderer): the corners of its square stay
    // the page's colour while its ring is tinted.
    void focusHaloIsRound_data()
    {
        QTest::addColumn<QString>("control");
        QTest::newRow("check box") << "page1.urlCheckBox";
        QTest::newRow("switch") << "page1.checkBox_p";
    }

    void focusHaloIsRound()
    {
        QFETCH(QString, control);
        Harness h;
        QVERIFY(loadUsable(h));
        // The page done with its start-up (what changes now could be taken
        // for a halo): two pictures alike.
        auto grab = [&h] {
            return h.window()->screen()->grabWindow(h.window()->winId()).toImage();
        };
        QImage before = grab();
        bool settled = false;
        for (int i = 0; i < 30 && !settled; ++i) {
            QTest::qWait(100);
            const QImage now = grab();
            settled = std::exchange(before, now) == now;
        }
        QVERIFY2(settled, "the page keeps changing");
        QQuickItem *target = h.item(control);
        target->forceActiveFocus(Qt::TabFocusReason);
        QQuickItem *ripple = nullptr;
        for (QQuickItem *i : target->findChildren<QQuickItem *>()) {
            if (i->inherits("QQuickMaterialRipple"))
                ripple = i;
        }
        QVERIFY(ripple);
        const QRect box =
            ripple->mapRectToScene(QRectF(0, 0, ripple->width(), ripple->height())).toRect();
        QTest::qWait(400); // the style's halo fades in
        const QImage shot = grab();
        const qreal dpr = shot.devicePixelRatio();
        auto grey = [&](int x, int y) { return qGray(shot.pixel(int(x * dpr), int(y * dpr))); };
        const int cy = box.center().y();
        const int outside = grey(box.left() - 2, cy);
        QVERIFY2(qAbs(grey(box.left() + 3, cy) - outside) > 5, "no halo");
        for (const QPoint &corner :
             {box.topLeft() + QPoint(1, 1), box.bottomLeft() + QPoint(1, -1)})
            QVERIFY2(qAbs(grey(corner.x(), corner.y()) - outside) <= 2,
                     qPrintable(QString("the halo's corner at %1,%2 is drawn")
                                    .arg(corner.x())
                                    .arg(corner.y())));
    }

    // The release notes are read by keyboard: they have the focus when their
    // dialog opens, and the arrows and page keys scroll them.
    void releaseNotesReadByKeyboard()
    {
        Harness h;
        QVERIFY(loadUsable(h));
        h.eval("page3.releaseNotes = Array(200).join('A line of the release notes.\\n')");
        h.eval("tabBar.currentIndex = 2");
        QQuickItem *link = h.item("page3.notesLink");
        QTRY_VERIFY(link->isVisible());
        link->forceActiveFocus(Qt::TabFocusReason);
        QTest::keyClick(h.window(), Qt::Key_Return);
        QTRY_VERIFY(h.eval("page3.notesDialog.opened").toBool());
        QQuickItem *view = h.item("page3.notesDialog.notesView");
        QVERIFY(view->hasActiveFocus());
        QTest::keyClick(h.window(), Qt::Key_PageDown);
        QTRY_VERIFY(view->property("contentY").toReal() >= view->height() * 0.9);
        const qreal paged = view->property("contentY").toReal();
        QTest::keyClick(h.window(), Qt::Key_Down);
        QTRY_VERIFY(view->property("contentY").toReal() > paged);
        QTest::keyClick(h.window(), Qt::Key_PageUp);
        QTest::keyClick(h.window(), Qt::Key_Up);
        QTRY_COMPARE(view->property("contentY").toReal(), 0.0);
    }

private:
    // A window whose every control can be used: a two-channel board that has
    // answered, both checks and manual control on, logging on, release notes
    // waiting to be read.
    bool loadUsable(Harness &h)
    {
        writeSettings({{"manualon", true},
                       {"ping/on", true},
                       {"ping/url", "127.0.0.1"},
                       // The process check watches this test program.
                       {"monitoron", true},
                       {"monitor", QFileInfo(QCoreApplication::applicationFilePath()).fileName()},
                       {"logging/enable", true},
                       // Nothing of a check may leave this machine.
                       {"Update/URL", "http://127.0.0.1:9/appcast.xml"}});
        if (!h.addBoard(BoardSimulator::X2) || !h.load())
            return false;
        h.eval("page3.chkUpdTimer.interval = 20"); // the update link, sooner
        h.setCycle(100);
        if (!QTest::qWaitFor([&h] { return h.eval("page1.remote_btn_m1.enabled").toBool(); }))
            return false;
        h.setCycle(Heartbeat::defaultInterval);
        // The update link comes half a second after the page.
        if (!QTest::qWaitFor([&h] { return h.eval("page3.updateLink.text") != ""; }))
            return false;
        h.eval("page3.releaseNotes = 'Faster start.'; page3.notesLink.text = page3.notesLinkText;"
               "page3.notesLink.visible = true");
        return QTest::qWaitForWindowExposed(h.window());
    }

    static QQuickItem *page(const Harness &h, int tab)
    {
        return h.item(QString("page%1").arg(tab + 1));
    }
    static bool isOnOtherTab(const Harness &h, QQuickItem *focused, int tab)
    {
        for (int other = 0; other < 3; ++other) {
            if (other != tab && page(h, other)->isAncestorOf(focused))
                return true;
        }
        return false;
    }

    // Whatever address a case stores, nothing is pinged beyond loopback.
    PingStandIn ping;
    QList<QUrl> openedUrls;
};

TOVEL3_TEST_MAIN(TestWindow)
#include "tst_window.moc"
