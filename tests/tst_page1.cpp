// The main page on its own: the real Page1 QML from the resources, the real
// settings store, serial channel, ping probe, process list and journal, board
// simulators on pseudo-terminals as ports, and a window that stands where the
// main window would be and records what the page hands to serialCommand().
#include "boardsimulator.h"
#include "journal.h"
#include "qmlpagewindow.h"
#include "testenvironment.h"

#include <QAbstractItemModel>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTranslator>
#include <QtTest>

#include <memory>

namespace
{
const char *harness = R"(
import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Controls.Material 2.1
import SerialChannel 1.0
import PingProcess 1.0
import Settings 1.0
ApplicationWindow {
    id: mainwindow
    width: 580
    height: 540
    visible: true
    Material.theme: Material.Light
    Material.primary: Material.Indigo
    Material.accent: Material.Indigo
    Material.background: "#fdfdfd"

    property bool first_ack: false
    property string announcedType: "U"
    property var sent: []
    function serialCommand(cmd) {
        urlmaintimer.stop()
        sent.push(cmd)
        urlmaintimer.start()
    }

    header: TabBar {
        TabButton { text: "Main" }
        TabButton { text: "Settings" }
        TabButton { text: "Application" }
    }

    SerialChannel { id: serial }
    PingProcess { id: process }
    Settings { id: settings }
    Timer { id: urlmaintimer; interval: 3000; repeat: true }

    Page1 { id: page1; anchors.fill: parent }
}
)";
}

class TestPage1 : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Journal> journal;
    QmlPageWindow qml;
    std::vector<std::unique_ptr<BoardSimulator>> boards;

    QQuickWindow *window() const { return qml.window(); }
    QVariant eval(const QString &expression) const { return qml.eval(expression); }
    QObject *object(const QString &expression) const { return qml.object(expression); }
    QQuickItem *item(const QString &expression) const { return qml.item(expression); }

    QStringList sent() const { return eval("mainwindow.sent").toStringList(); }
    void clearSent() { eval("mainwindow.sent = []"); }

    static QString setting(const QString &key, const QString &def = "<absent>")
    {
        return QSettings().value(key, def).toString();
    }

    QString journalText() const
    {
        QFile f(journal->getLogFile());
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(f.readAll());
    }

    QString board(int n)
    {
        while (int(boards.size()) <= n) {
            boards.emplace_back(new BoardSimulator(BoardSimulator::X2));
            if (!boards.back()->start())
                return QString();
        }
        return boards[n]->portPath();
    }

    bool load()
    {
        if (!qml.create(harness, QUrl("qrc:/page1harness.qml"), journal.get())) {
            qWarning() << qml.errorString();
            return false;
        }
        return QTest::qWaitForWindowExposed(window());
    }

    void typeText(const char *text)
    {
        for (const char *c = text; *c; ++c)
            QTest::keyClick(window(), *c);
    }

    void click(const QString &expression, Qt::MouseButton button = Qt::LeftButton)
    {
        qml.click(item(expression), 0.5, 0.5, button);
    }

    QList<bool> *busyStates = nullptr;

private slots:
    void recordBusy()
    {
        if (busyStates)
            busyStates->append(sender()->property("running").toBool());
    }

    void initTestCase()
    {
        QmlPageWindow::prepare();
        journal.reset(new Journal);
        journal->setup(TestEnvironment::home() + "/log", "tovel3.log");
        journal->setPaused(false);
    }

    void init()
    {
        QSettings().clear();
        QSettings().sync();
        QFile::remove(journal->getLogFile());
        qunsetenv("TOVEL3_EXTRA_PORTS");
    }

    void cleanup() { qml.destroy(); }

    void cleanupTestCase() { boards.clear(); }

    void savedPortIsTheOnlyChoiceUntilScan()
    {
        const QStringList ports = {board(0), board(1), board(2)};
        QVERIFY(!ports.contains(QString()));
        qputenv("TOVEL3_EXTRA_PORTS", ports.join(':').toLocal8Bit());
        QSettings().setValue("port", ports[1]);

        QTest::ignoreMessage(QtDebugMsg, qPrintable("Restoring port: " + ports[1]));
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Opened port " + ports[1]));
        QVERIFY(load());
        QCOMPARE(eval("page1.portsCombo.count").toInt(), 1);
        QCOMPARE(eval("page1.portsCombo.currentText").toString(), ports[1]);
        QVERIFY(eval("serial.isOpen()").toBool());
        QCOMPARE(eval("serial.name()").toString(), ports[1]);
        QVERIFY(eval("urlmaintimer.running").toBool());
        QVERIFY(eval("mainwindow.first_ack").toBool());
        QVERIFY(!eval("page1.rescanTimer.running").toBool());

        // Scan lists every candidate and keeps the port in use selected, without reopening it.
        eval("mainwindow.first_ack = false");
        click("page1.scanbtn");
        QCOMPARE(eval("page1.portsCombo.count").toInt(), 3);
        QCOMPARE(eval("page1.portsCombo.currentText").toString(), ports[1]);
        QVERIFY(!eval("mainwindow.first_ack").toBool());
        QCOMPARE(setting("port"), ports[1]);

        // Choosing another port opens it, stores it and restarts the identification.
        eval("page1.wdg_type = 'U'");
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Opened port " + ports[2]));
        eval("page1.portsCombo.currentIndex = 2");
        QCOMPARE(eval("serial.name()").toString(), ports[2]);
        QCOMPARE(setting("port"), ports[2]);
        QVERIFY(eval("mainwindow.first_ack").toBool());
        QCOMPARE(eval("mainwindow.announcedType").toString(), QString());
        QCOMPARE(eval("page1.wdg_type").toString(), QString());
        QVERIFY(journalText().isEmpty());
    }

    void withoutSavedPortTheFirstCandidateOpens()
    {
        const QStringList ports = {board(0), board(1)};
        qputenv("TOVEL3_EXTRA_PORTS", ports.join(':').toLocal8Bit());
        QVERIFY(load());
        QCOMPARE(eval("page1.portsCombo.count").toInt(), 2);
        QCOMPARE(eval("page1.portsCombo.currentText").toString(), ports[0]);
        QCOMPARE(eval("serial.name()").toString(), ports[0]);
        QCOMPARE(setting("port"), ports[0]);
    }

    void savedPortThatIsGoneFallsBackToTheList()
    {
        const QString port = board(0);
        qputenv("TOVEL3_EXTRA_PORTS", port.toLocal8Bit());
        QSettings().setValue("port", "/dev/tovel3-unplugged");
        QVERIFY(load());
        QCOMPARE(eval("page1.portsCombo.count").toInt(), 1);
        QCOMPARE(setting("port"), port);
    }

    void portThatFailsToOpenKeepsTheSavedPort()
    {
        const QString good = board(0);
        const QString bad = QDir::tempPath() + "/tovel3-no-such-tty";
        qputenv("TOVEL3_EXTRA_PORTS", (good + ":" + bad).toLocal8Bit());
        QVERIFY(load());
        QCOMPARE(setting("port"), good);

        QTest::ignoreMessage(QtDebugMsg, qPrintable("Cannot open port " + bad));
        eval("page1.portsCombo.currentIndex = 1");
        QVERIFY(!eval("serial.isOpen()").toBool());
        QCOMPARE(setting("port"), good);
        QVERIFY(eval("urlmaintimer.running").toBool());
    }

    void compatibilityModeSendsResetTimeOnOpen_data()
    {
        QTest::addColumn<QString>("t1");
        QTest::addColumn<QString>("command");
        QTest::newRow("default") << QString() << "~W5\n~I";
        QTest::newRow("3") << "3"
                           << "~W3\n~I";
        QTest::newRow("9") << "9"
                           << "~W9\n~I";
        QTest::newRow("12 is sent as 9") << "12"
                                         << "~W9\n~I";
    }

    void compatibilityModeSendsResetTimeOnOpen()
    {
        QFETCH(QString, t1);
        QFETCH(QString, command);
        qputenv("TOVEL3_EXTRA_PORTS", board(0).toLocal8Bit());
        QSettings().setValue("legacy", true);
        if (!t1.isEmpty())
            QSettings().setValue("t1", t1.toInt());
        QVERIFY(load());
        QCOMPARE(sent(), QStringList{command});
    }

    void noPortJournalsAndRescansUntilOneAppears()
    {
        QVERIFY(load());
        QCOMPARE(eval("page1.portsCombo.count").toInt(), 0);
        QVERIFY(journalText().contains("No connected watchdogs detected"));
        QVERIFY(eval("page1.rescanTimer.running").toBool());
        QCOMPARE(eval("page1.rescanTimer.interval").toInt(), 10000);

        // A scan that finds nothing leaves the rescan going.
        click("page1.scanbtn");
        QVERIFY(eval("page1.rescanTimer.running").toBool());

        const QString port = board(0);
        qputenv("TOVEL3_EXTRA_PORTS", port.toLocal8Bit());
        QTest::ignoreMessage(QtDebugMsg, "Rescan triggered");
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Opened port " + port));
        QTRY_COMPARE_WITH_TIMEOUT(eval("page1.portsCombo.count").toInt(), 1, 15000);
        QVERIFY(!eval("page1.rescanTimer.running").toBool());
        QCOMPARE(setting("port"), port);

        // A manual scan never starts the rescan again, even when the port is gone.
        qunsetenv("TOVEL3_EXTRA_PORTS");
        click("page1.scanbtn");
        QCOMPARE(eval("page1.portsCombo.count").toInt(), 0);
        QVERIFY(!eval("page1.rescanTimer.running").toBool());
        QVERIFY(!eval("serial.isOpen()").toBool());
    }

    void networkCheckShowsSavedAddressOrDisabled()
    {
        QVERIFY(load());
        QCOMPARE(eval("page1.urlField.text").toString(), QString("disabled"));
        QVERIFY(!eval("page1.urlField.enabled").toBool());

        click("page1.urlCheckBox");
        QVERIFY(eval("page1.urlField.enabled").toBool());
        QCOMPARE(setting("ping/on"), QString("true"));
        QCOMPARE(eval("page1.urlField.text").toString(), QString("127.0.0.1"));

        // A typed address is saved when editing finishes.
        eval("page1.urlField.text = '10.1.2.3'; page1.urlField.editingFinished()");
        QCOMPARE(setting("ping/url"), QString("10.1.2.3"));

        // An emptied field is not saved.
        eval("page1.urlField.text = ''; page1.urlField.editingFinished()");
        QCOMPARE(setting("ping/url"), QString("10.1.2.3"));

        // Unchecking shows "disabled"; checking again shows the saved address, not the typed text.
        eval("page1.urlField.text = '192.0.2.9'");
        click("page1.urlCheckBox");
        QCOMPARE(setting("ping/on"), QString("false"));
        QCOMPARE(eval("page1.urlField.text").toString(), QString("disabled"));
        eval("page1.urlField.editingFinished()");
        QCOMPARE(setting("ping/url"), QString("10.1.2.3"));
        click("page1.urlCheckBox");
        QCOMPARE(eval("page1.urlField.text").toString(), QString("10.1.2.3"));
    }

    void typedAddressIsSavedWhenTheFieldLosesFocus()
    {
        QVERIFY(load());
        click("page1.urlCheckBox");
        click("page1.urlField");
        QVERIFY(eval("page1.urlField.activeFocus").toBool());
        eval("page1.urlField.selectAll()");
        typeText("127.0.0.2");
        click("page1.monitorCheckBox");
        QCOMPARE(setting("ping/url"), QString("127.0.0.2"));
    }

    void processCheckSavesNameAndState()
    {
        QVERIFY(load());
        QCOMPARE(eval("page1.monitorField.placeholderText").toString(), QString("nautilus"));
        QVERIFY(!eval("page1.monitorField.enabled").toBool());
        QVERIFY(!eval("page1.processListTool.enabled").toBool());

        click("page1.monitorCheckBox");
        QCOMPARE(setting("monitoron"), QString("true"));
        QVERIFY(eval("page1.monitorField.enabled").toBool());
        QVERIFY(eval("page1.processListTool.enabled").toBool());

        click("page1.monitorField");
        typeText("sshd");
        QCOMPARE(setting("monitor"), QString("sshd"));
        QTest::keyClick(window(), Qt::Key_Backspace);
        QCOMPARE(setting("monitor"), QString("ssh"));

        click("page1.monitorCheckBox");
        QCOMPARE(setting("monitoron"), QString("false"));
        QVERIFY(!eval("page1.processListTool.enabled").toBool());
    }

    void manualControlGroupGatesItsControls()
    {
        QVERIFY(load());
        QVERIFY(!eval("page1.controlGrid.enabled").toBool());
        QVERIFY(!eval("page1.remote_btn_m1.enabled").toBool());
        QVERIFY(!eval("page1.remote_btn_m2.enabled").toBool());

        // Clicks do nothing while the group is off.
        click("page1.checkBox_l");
        click("page1.ch1Switch");
        QVERIFY(!eval("page1.checkBox_l.checked").toBool());
        QVERIFY(!eval("page1.ch1Switch.checked").toBool());
        QVERIFY(sent().isEmpty());
        const double before = eval("page1.pingTimeoutSlider.value").toDouble();
        qml.clickAt(item("page1.pingTimeoutSlider"), QPointF(5, 20));
        QCOMPARE(eval("page1.pingTimeoutSlider.value").toDouble(), before);

        // Board replies still move the switches; the CH switch sends its command.
        eval("page1.ch1Switch.checked = true");
        QCOMPARE(sent(), QStringList{"~S1"});

        click("page1.groupContolBox");
        QCOMPARE(setting("manualon"), QString("true"));
        QVERIFY(eval("page1.controlGrid.enabled").toBool());
        click("page1.groupContolBox");
        QCOMPARE(setting("manualon"), QString("false"));
        QVERIFY(!eval("page1.controlGrid.enabled").toBool());
    }

    void switchesSendTheirCommands()
    {
        QVERIFY(load());
        click("page1.groupContolBox");
        clearSent();

        // Green LED: a user click sends and stores the inverse in "ledoff".
        eval("page1.checkBox_l.checked = true");
        QVERIFY(sent().isEmpty());
        click("page1.checkBox_l");
        QVERIFY(!eval("page1.checkBox_l.checked").toBool());
        QCOMPARE(sent(), QStringList{"~L0"});
        QCOMPARE(setting("ledoff"), QString("true"));
        // A later board reply checks it again without sending or storing.
        eval("page1.checkBox_l.checked = true");
        QCOMPARE(sent(), QStringList{"~L0"});
        QCOMPARE(setting("ledoff"), QString("true"));
        click("page1.checkBox_l");
        click("page1.checkBox_l");
        QCOMPARE(sent(), (QStringList{"~L0", "~L0", "~L1"}));
        QCOMPARE(setting("ledoff"), QString("false"));

        clearSent();
        click("page1.checkBox_p");
        QCOMPARE(sent(), QStringList{"~P1"});
        QCOMPARE(setting("timerstop"), QString("true"));
        click("page1.checkBox_p");
        QCOMPARE(sent(), (QStringList{"~P1", "~P0"}));
        QCOMPARE(setting("timerstop"), QString("false"));

        // Channel switches send on every change of state, from a click or a reply.
        clearSent();
        click("page1.ch1Switch");
        click("page1.ch2Switch");
        eval("page1.ch1Switch.checked = false");
        eval("page1.ch2Switch.checked = false");
        eval("page1.ch2Switch.checked = false");
        QCOMPARE(sent(), (QStringList{"~S1", "~S2", "~R1", "~R2"}));
        QVERIFY(eval("urlmaintimer.running").toBool());
    }

    void remoteButtonsDependOnTheBoardType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("info");
        QTest::newRow("X2") << "U" << QStringList{"~M1", "~M2"}
                            << "Type: X2, Version: 104, Channels: 2";
        QTest::newRow("S2") << "L" << QStringList{"~T1"} << "Type: S, Version: 104, Channels: 2";
        QTest::newRow("unknown") << "Q" << QStringList{"~T1"}
                                 << "Type: n/a, Version: 104, Channels: 2";
        QTest::newRow("re-identifying")
            << "upd" << QStringList{"~T1"} << "Type: n/a, Version: 104, Channels: 2";
    }

    void remoteButtonsDependOnTheBoardType()
    {
        QFETCH(QString, type);
        QFETCH(QStringList, commands);
        QFETCH(QString, info);
        QVERIFY(load());
        QCOMPARE(eval("page1.label_info.text").toString(),
                 QString("Type: n/a, Version: n/a, Channels: n/a"));
        click("page1.groupContolBox");
        clearSent();
        eval(QString("page1.wdg_type = '%1'; page1.wdg_version = '104'; page1.wdg_channel = '2'; "
                     "page1.remote_btn_m1.enabled = true; page1.remote_btn_m2.enabled = true")
                 .arg(type));
        QCOMPARE(eval("page1.label_info.text").toString(), info);
        click("page1.remote_btn_m1");
        click("page1.remote_btn_m2");
        QCOMPARE(sent(), commands);
    }

    void pingTimeoutSliderStoresItsValue()
    {
        QVERIFY(load());
        QCOMPARE(eval("page1.pingTimeoutSlider.value").toInt(), 1000);
        QCOMPARE(eval("page1.pingTimeoutText.text").toString(), QString("1000ms"));
        QCOMPARE(setting("ping/timeout"), QString("<absent>"));

        eval("page1.pingTimeoutSlider.value = 1350");
        QCOMPARE(eval("page1.pingTimeoutText.text").toString(), QString("1350ms"));
        QCOMPARE(setting("ping/timeout"), QString("1350"));
        QCOMPARE(eval("process.timeout").toInt(), 1350);

        // Dragged by the user: the value lands on a step and is stored as shown.
        click("page1.groupContolBox");
        QQuickItem *slider = item("page1.pingTimeoutSlider");
        qml.click(slider, 0.3);
        const int value = eval("page1.pingTimeoutSlider.value").toInt();
        QVERIFY2(value != 1350 && value % 10 == 0, qPrintable(QString::number(value)));
        QCOMPARE(eval("page1.pingTimeoutSlider.value").toDouble(), double(value));
        QCOMPARE(setting("ping/timeout"), QString::number(value));
        QCOMPARE(eval("page1.pingTimeoutText.text").toString(), QString("%1ms").arg(value));
        QCOMPARE(eval("process.timeout").toInt(), value);
    }

    void pingTimeoutRestoredAtStartUp_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("value");
        QTest::newRow("1500") << "1500" << 1500;
        QTest::newRow("below range is clamped") << "50" << 200;
        QTest::newRow("not a number keeps the default") << "fast" << 1000;
    }

    void pingTimeoutRestoredAtStartUp()
    {
        QFETCH(QString, stored);
        QFETCH(int, value);
        QSettings().setValue("ping/timeout", stored);
        QVERIFY(load());
        QCOMPARE(eval("page1.pingTimeoutSlider.value").toInt(), value);
        QCOMPARE(eval("process.timeout").toInt(), value);
    }

    void pingTimeoutRowFadesWithTheNetworkCheck()
    {
        QVERIFY(load());
        const QColor faded = eval("page1.ctrl_background").value<QColor>();
        QCOMPARE(faded, QColor("#f4f4f4"));
        QCOMPARE(eval("page1.pingTimeoutLabel.color").value<QColor>(), faded);
        QCOMPARE(eval("page1.pingTimeoutText.color").value<QColor>(), faded);
        QCOMPARE(eval("page1.pingTimeoutSlider.handle.color").value<QColor>(), faded);
        QCOMPARE(eval("page1.pingTimeoutSlider.background.color").value<QColor>(), faded);
        click("page1.urlCheckBox");
        QCOMPARE(eval("page1.pingTimeoutLabel.color").value<QColor>(), QColor("black"));
        QCOMPARE(eval("page1.pingTimeoutText.color").value<QColor>(), QColor("black"));
        QCOMPARE(eval("page1.pingTimeoutSlider.background.color").value<QColor>(), QColor("grey"));
        QVERIFY(eval("page1.pingTimeoutSlider.handle.color").value<QColor>() != faded);
    }

    void contextMenuOpensOnRightClick()
    {
        QVERIFY(load());
        QObject *menu = object("page1.urlFieldMenu");
        QVERIFY(menu);
        QSignalSpy shown(menu, SIGNAL(aboutToShow()));
        // A disabled field offers no menu.
        click("page1.urlField", Qt::RightButton);
        QCOMPARE(shown.count(), 0);
        click("page1.urlCheckBox");
        click("page1.urlField", Qt::RightButton);
        QTRY_COMPARE(shown.count(), 1);
        QMetaObject::invokeMethod(menu, "close");

        QObject *monitorMenu = object("page1.monitorFieldMenu");
        QCOMPARE(monitorMenu->property("textField").value<QObject *>(),
                 object("page1.monitorField"));
        QCOMPARE(menu->property("textField").value<QObject *>(), object("page1.urlField"));
    }

    void contextMenuEntriesActOnTheirField()
    {
        QVERIFY(load());
        click("page1.monitorCheckBox");
        const QString items = "page1.monitorFieldMenu.items";
        QCOMPARE(eval(items + ".length").toInt(), 5);
        QStringList texts;
        for (int i = 0; i < 5; ++i)
            texts << eval(QString("%1[%2].text").arg(items).arg(i)).toString();
        QCOMPARE(texts, (QStringList{"C&ut", "&Copy", "&Paste", "", "Select &all"}));
        QVERIFY(eval(items + "[3].separator").toBool());
        auto enabled = [&](int i) {
            return eval(QString("%1[%2].enabled").arg(items).arg(i)).toBool();
        };

        QGuiApplication::clipboard()->clear();
        QVERIFY(!enabled(0));
        QVERIFY(!enabled(1));
        QVERIFY(!enabled(2));
        QVERIFY(!enabled(4)); // empty field

        eval("page1.monitorField.text = 'watched-daemon'");
        QVERIFY(enabled(4));
        QVERIFY(!enabled(0));
        eval(items + "[4].triggered()");
        QCOMPARE(eval("page1.monitorField.selectedText").toString(), QString("watched-daemon"));
        QVERIFY(enabled(0));
        QVERIFY(enabled(1));

        eval(items + "[1].triggered()");
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("watched-daemon"));
        QVERIFY(enabled(2));

        eval("page1.monitorField.select(0, 8)");
        eval(items + "[0].triggered()");
        QCOMPARE(eval("page1.monitorField.text").toString(), QString("daemon"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("watched-"));
        QCOMPARE(setting("monitor"), QString("daemon"));

        eval("page1.monitorField.cursorPosition = 0");
        eval(items + "[2].triggered()");
        QCOMPARE(eval("page1.monitorField.text").toString(), QString("watched-daemon"));
        QCOMPARE(setting("monitor"), QString("watched-daemon"));
    }

    void processDialogPicksARunningProgram()
    {
        QVERIFY(load());
        click("page1.monitorCheckBox");
        QObject *busy = object("page1.bHolder");
        QObject *model = object("page1.processList.sysProcModel");
        QVERIFY(busy);
        QVERIFY(model);

        // The enumeration can finish while the click is still being delivered,
        // so the indicator's states are recorded as they change.
        QList<bool> states;
        connect(busy, SIGNAL(runningChanged()), this, SLOT(recordBusy()));
        busyStates = &states;
        for (int round = 0; round < 2; ++round) {
            QSignalSpy reloaded(model, SIGNAL(reloaded()));
            QTest::ignoreMessage(QtDebugMsg, "Process model reloaded");
            click("page1.processListTool");
            QVERIFY(eval("page1.selectProcessDialog.visible").toBool());
            QVERIFY(reloaded.count() == 1 || reloaded.wait(10000));
            QVERIFY(!busy->property("running").toBool());
            if (round == 0) {
                // Initially running, stopped by the first reload.
                QCOMPARE(states, QList<bool>{false});
                states.clear();
                eval("page1.selectProcessDialog.close()");
                QTRY_VERIFY(!eval("page1.selectProcessDialog.visible").toBool());
            }
        }
        QCOMPARE(states, (QList<bool>{true, false}));
        busyStates = nullptr;
        QCOMPARE(eval("page1.selectProcessDialog.title").toString(), QString("Select a Process"));
        QCOMPARE(eval("page1.selectProcessDialog.width").toInt(), 522);
        QCOMPARE(eval("page1.selectProcessDialog.height").toInt(),
                 eval("page1.height").toInt() - 20);

        // Find this test program among the rows and click its card.
        auto *rows = qobject_cast<QAbstractItemModel *>(model);
        QVERIFY(rows);
        const int nameRole = rows->roleNames().key("pname");
        const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        int row = -1;
        for (int i = 0; i < rows->rowCount(); ++i)
            if (rows->data(rows->index(i, 0), nameRole).toString() == self)
                row = i;
        QVERIFY2(row >= 0, qPrintable(self));
        eval(QString("page1.processList.positionViewAtIndex(%1, ListView.Center)").arg(row));
        QQuickItem *card = nullptr;
        QTRY_VERIFY((card = item(QString("page1.processList.itemAtIndex(%1)").arg(row))));
        QTest::qWait(50);
        qml.click(card);
        QCOMPARE(eval("page1.monitorField.text").toString(), self);
        QCOMPARE(setting("monitor"), self);
        QTRY_VERIFY(!eval("page1.selectProcessDialog.visible").toBool());
    }

    void textsAreTranslated()
    {
        QTranslator russian;
        QVERIFY(russian.load(":/lang/tovel_ru.qm"));
        QCoreApplication::installTranslator(&russian);
        const bool loaded = load();
        QCoreApplication::removeTranslator(&russian);
        QVERIFY(loaded);
        QCOMPARE(eval("page1.scanbtn.text").toString(), QString("Поиск"));
        QCOMPARE(eval("page1.urlField.text").toString(), QString("отключено"));
        QCOMPARE(eval("page1.label_info.text").toString(),
                 QString("Тип: н/д, версия: н/д, каналов: н/д"));
        QCOMPARE(eval("page1.pingTimeoutText.text").toString(), QString("1000мс"));
        QCOMPARE(eval("page1.selectProcessDialog.title").toString(), QString("Выберите процесс"));
        QCOMPARE(eval("page1.urlFieldMenu.items[0].text").toString(), QString("Вы&резать"));
        QVERIFY(eval("page1.checkBox_p.ToolTip.text").toString().contains("\n"));
    }

    void renderPage_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("fresh") << QString();
        QTest::newRow("busy") << QString(
            "page1.urlCheckBox.checked = true; page1.monitorCheckBox.checked = true; "
            "page1.monitorField.text = 'nautilus'; page1.groupContolBox.checked = true; "
            "page1.statusIndicator.active = true; page1.wdg_type = 'U'; page1.wdg_version = '104'; "
            "page1.wdg_channel = '2'; page1.get_in_label.text = 'TEMP: 23.5\u2103'; "
            "page1.remote_btn_m1.enabled = true; page1.remote_btn_m2.enabled = true");
        QTest::newRow("dialog") << QString("page1.monitorCheckBox.checked = true");
    }

    void renderPage()
    {
        QFETCH(QString, setup);
        qputenv("TOVEL3_EXTRA_PORTS", board(0).toLocal8Bit());
        QSettings().setValue("ping/timeout", 1350);
        QVERIFY(load());
        if (!setup.isEmpty())
            eval(setup);
        if (QByteArray(QTest::currentDataTag()) == "dialog") {
            QSignalSpy reloaded(object("page1.processList.sysProcModel"), SIGNAL(reloaded()));
            click("page1.processListTool");
            QVERIFY(reloaded.count() == 1 || reloaded.wait(10000));
            QTest::qWait(400);
        }
        QTest::qWait(100);
        // The offscreen platform's backing store cannot be read back by the
        // window itself; its screen composites the window's pixels instead.
        const QImage shot = window()->screen()->grabWindow(window()->winId()).toImage();
        QCOMPARE(shot.size(), QSize(580, 540));
        const QString out = qEnvironmentVariable("TOVEL3_BUILD_DIR", QDir::tempPath()) +
                            QString("/page1_%1.png").arg(QTest::currentDataTag());
        QVERIFY(shot.save(out));
        // Every control of the manual group fits inside the page without scrolling.
        QQuickItem *slider = item("page1.pingTimeoutSlider");
        const QPointF bottom = slider->mapToScene(QPointF(0, slider->height()));
        QVERIFY2(bottom.y() <= 540, qPrintable(QString::number(bottom.y())));
        QVERIFY(!eval("page1.flickable.interactive && page1.flickable.contentHeight > "
                      "page1.flickable.height")
                     .toBool());
    }
};

TOVEL3_TEST_MAIN(TestPage1)
#include "tst_page1.moc"
