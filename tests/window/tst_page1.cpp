// The main page in the real main window, with the engine behind it (the
// typed settings, the board and the heartbeat cycle on their own thread) and
// board simulators on pseudo-terminals as ports: what the page shows, what
// its controls send to the board and what they store.
#include "boardsim/boardsimulator.h"
#include "storage/journal.h"
#include "support/testenvironment.h"
#include "support/windowharness.h"

#include <QAbstractItemModel>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace WindowTest;

class TestPage1 : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Journal> journal;
    QmlPageWindow qml;
    QmlPageWindow fresh; // left as loaded, for the cases that only look
    std::vector<std::unique_ptr<BoardSimulator>> boards; // three two-channel boards

    QQuickWindow *window() const { return qml.window(); }
    QVariant eval(const QString &expression) const { return qml.eval(expression); }
    QObject *object(const QString &expression) const { return qml.object(expression); }
    QQuickItem *item(const QString &expression) const { return qml.item(expression); }

    static QString setting(const QString &key, const QString &def = "<absent>")
    {
        return QSettings().value(key, def).toString();
    }

    QString journalText() const
    {
        QFile f(journal->getLogFile());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    static void listPorts(const QStringList &ports)
    {
        qputenv("TOVEL3_EXTRA_PORTS", ports.join(':').toLocal8Bit());
    }

    bool load()
    {
        if (!qml.create(QUrl("qrc:/main.qml"), journal.get())) {
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

    // The next entry of the port box, chosen with the keyboard as a user does.
    void chooseNextPort()
    {
        item("page1.portsCombo")->forceActiveFocus();
        QTest::keyClick(window(), Qt::Key_Down);
    }

    QList<bool> *busyStates = nullptr;

public slots:
    void recordBusy()
    {
        if (busyStates)
            busyStates->append(sender()->property("running").toBool());
    }

private slots:
    void initTestCase()
    {
        installMessageHandler();
        QmlPageWindow::prepare();
        journal.reset(new Journal);
        journal->setup(TestEnvironment::home() + "/log", "tovel3.log");
        journal->setPaused(false);
        for (int i = 0; i < 3; ++i) {
            boards.emplace_back(new BoardSimulator(BoardSimulator::X2));
            QVERIFY(boards.back()->start());
        }
    }

    void init()
    {
        startCase();
        QFile::remove(journal->getLogFile());
        qunsetenv("TOVEL3_EXTRA_PORTS");
    }

    void cleanup()
    {
        qml.destroy();
        verifyNoQmlProblems();
    }

    void cleanupTestCase()
    {
        fresh.destroy();
        boards.clear();
    }

    void portBoxAtStartUp_data()
    {
        QTest::addColumn<int>("listed");    // boards listed as ports
        QTest::addColumn<QString>("saved"); // "" none, else a board's index or a lost port
        QTest::addColumn<int>("count");     // entries of the port box
        QTest::addColumn<int>("chosen");    // board shown and stored, -1 none
        QTest::newRow("saved port is the only choice") << 3 << "1" << 1 << 1;
        QTest::newRow("no saved port") << 2 << "" << 2 << 0;
        // Another device is no substitute: the saved port stays, unlisted.
        QTest::newRow("saved port is gone") << 1 << "/dev/tovel3-unplugged" << 1 << -1;
        QTest::newRow("no port") << 0 << "" << 0 << -1;
    }

    void portBoxAtStartUp()
    {
        QFETCH(int, listed);
        QFETCH(QString, saved);
        QFETCH(int, count);
        QFETCH(int, chosen);
        QStringList ports;
        for (int i = 0; i < listed; ++i)
            ports << boards[i]->portPath();
        listPorts(ports);
        bool isIndex = false;
        const int savedIndex = saved.toInt(&isIndex);
        if (!saved.isEmpty())
            QSettings().setValue("port", isIndex ? ports[savedIndex] : saved);

        QVERIFY(load());
        QTRY_COMPARE(eval("page1.portsCombo.count").toInt(), count);
        const QString port = chosen >= 0 ? ports[chosen] : QString();
        QTRY_COMPARE(eval("page1.portsCombo.currentText").toString(), port);
        QTRY_COMPARE(setting("port", QString()), isIndex || chosen >= 0 ? port : saved);
        QCOMPARE(journalText().contains("No connected watchdogs detected"), listed == 0);
    }

    void scanAndChoosingAPort()
    {
        const QString bad = QDir::tempPath() + "/tovel3-no-such-tty";
        QStringList ports;
        for (const auto &board : boards)
            ports << board->portPath();
        listPorts(ports + QStringList{bad});
        QSettings().setValue("port", ports[1]);
        QVERIFY(load());
        QTRY_COMPARE(eval("page1.portsCombo.currentText").toString(), ports[1]);
        QCOMPARE(eval("page1.portsCombo.count").toInt(), 1);

        // Scan lists every candidate and keeps the port in use.
        click("page1.scanbtn");
        QTRY_COMPARE(eval("page1.portsCombo.count").toInt(), 4);
        QCOMPARE(eval("page1.portsCombo.currentText").toString(), ports[1]);

        // The chosen port is stored and gets the heartbeat.
        chooseNextPort();
        QTRY_COMPARE(setting("port"), ports[2]);
        qml.setCycle(100);
        QTRY_VERIFY(boards[2]->receivedTexts().contains("~U"));
        qml.setCycle(3000);

        // One that cannot be opened is shown but not stored.
        chooseNextPort();
        QTRY_COMPARE(eval("page1.portsCombo.currentText").toString(), bad);
        QTest::qWait(50);
        QCOMPARE(setting("port"), ports[2]);

        // The ports gone, then another back: the port chosen stays until
        // another is chosen.
        qunsetenv("TOVEL3_EXTRA_PORTS");
        click("page1.scanbtn");
        QTRY_COMPARE(eval("page1.portsCombo.count").toInt(), 0);
        listPorts({ports[0]});
        click("page1.scanbtn");
        QTRY_COMPARE(eval("page1.portsCombo.count").toInt(), 1);
        QCOMPARE(eval("page1.portsCombo.currentText").toString(), QString());
        QCOMPARE(setting("port"), ports[2]);
    }

    // A stable port name is long: the box shows its start and end, the
    // whole name on hovering, and its list wraps the name rather than cut it.
    void longPortNameStaysReadable()
    {
        QTemporaryDir dir;
        const QString name =
            dir.path() + "/usb-STMicroelectronics_Virtual_COM_Port_in_FS_Mode_6D8E12345678-if00";
        QVERIFY(QFile::link(boards[0]->portPath(), name));
        listPorts({name});
        QVERIFY(load());
        QTRY_COMPARE(eval("page1.portsCombo.currentText").toString(), name);
        QQuickItem *box = item("page1.portsCombo");
        QQuickItem *shown = item("page1.portsCombo.contentItem");
        QVERIFY(shown->property("truncated").toBool());
        QVERIFY(box->mapRectToScene(box->boundingRect())
                    .contains(shown->mapRectToScene(shown->boundingRect())));

        QTest::mouseMove(window(), box->mapToScene(box->boundingRect().center()).toPoint());
        QTRY_VERIFY(eval("page1.portsCombo.ToolTip.visible").toBool());
        QCOMPARE(eval("page1.portsCombo.ToolTip.text").toString(), name);

        click("page1.portsCombo");
        QTRY_VERIFY(eval("page1.portsCombo.popup.opened").toBool());
        QQuickItem *entry = item("page1.portsCombo.popup.contentItem.itemAtIndex(0).contentItem");
        QVERIFY(entry);
        QCOMPARE(entry->property("text").toString(), name);
        QVERIFY(!entry->property("truncated").toBool());
        QVERIFY(entry->property("lineCount").toInt() > 1);
        QVERIFY(entry->height() >= entry->property("implicitHeight").toReal() - 1);
        QQuickItem *list = item("page1.portsCombo.popup.contentItem");
        QVERIFY(list->mapRectToScene(list->boundingRect())
                    .contains(entry->mapRectToScene(entry->boundingRect())));
    }

    // Each control of the manual group sends its command once; a model's
    // missing outputs take no input; the page shows what the board reports.
    void controlsSendTheirCommandOnce_data()
    {
        QTest::addColumn<BoardSimulator::Model>("model");
        QTest::addColumn<QString>("info");
        QTest::addColumn<QStringList>("controls");
        QTest::addColumn<QList<QByteArray>>("commands");
        QTest::addColumn<QStringList>("disabled");
        QTest::newRow("X2") << BoardSimulator::X2 << "Type: Ostrel X2, Version: 3.1, Channels: 2"
                            << QStringList{"checkBox_l", "checkBox_p",    "ch1Switch",
                                           "ch2Switch",  "remote_btn_m1", "remote_btn_m2"}
                            << QList<QByteArray>{"~L0", "~P1", "~S1", "~S2", "~M1", "~M2"}
                            << QStringList();
        QTest::newRow("S2") << BoardSimulator::S2 << "Type: Ostrel S2, Version: 2.7, Channels: 1"
                            << QStringList{"checkBox_l", "checkBox_p", "ch1Switch", "remote_btn_m1"}
                            << QList<QByteArray>{"~L0", "~P1", "~S1", "~T1"}
                            << QStringList{"ch2Switch", "remote_btn_m2"};
    }

    void controlsSendTheirCommandOnce()
    {
        QFETCH(BoardSimulator::Model, model);
        QFETCH(QString, info);
        QFETCH(QStringList, controls);
        QFETCH(QList<QByteArray>, commands);
        QFETCH(QStringList, disabled);
        BoardSimulator board(model);
        QVERIFY(board.start());
        listPorts({board.portPath()});
        QSettings().setValue("manualon", true);
        QVERIFY(load());

        qml.setCycle(100);
        QTRY_COMPARE(eval("page1.label_info.text").toString(), info);
        QTRY_VERIFY(board.receivedTexts().contains("~P0")); // the handshake
        qml.setCycle(3000);
        QTRY_VERIFY(eval("page1.remote_btn_m1.enabled").toBool());
        board.clearReceived();

        for (const QString &control : disabled) {
            QVERIFY2(!eval("page1." + control + ".enabled").toBool(), qPrintable(control));
            click("page1." + control);
        }
        for (int i = 0; i < controls.size(); ++i) {
            click("page1." + controls[i]);
            QTRY_VERIFY2(board.receivedTexts().contains(commands[i]), commands[i].constData());
        }
        // Apart from the heartbeat, nothing else went to the board.
        auto sent = [&board] {
            QList<QByteArray> texts = board.receivedTexts();
            texts.removeAll("~U");
            texts.removeAll("~G");
            return texts;
        };
        QTest::qWait(100);
        QCOMPARE(sent(), commands);
        QCOMPARE(setting("ledoff"), QString("true"));
        QCOMPARE(setting("timerstop"), QString("true"));
        QVERIFY(!board.led());
        QVERIFY(board.suspended());
        QVERIFY(board.channel(1));
        QTRY_COMPARE(eval("page1.ch1Switch.text").toString(), QString("CH1 Closed"));
        QVERIFY(eval("page1.ch1Switch.checked").toBool());
        QVERIFY(!eval("page1.checkBox_l.checked").toBool());
        QVERIFY(eval("page1.checkBox_p.checked").toBool());

        // What the board reports moves the switches, without a command.
        board.sendRaw("~L1\n~P0\n");
        QTRY_VERIFY(eval("page1.checkBox_l.checked").toBool());
        QTRY_VERIFY(!eval("page1.checkBox_p.checked").toBool());
        QCOMPARE(sent(), commands);

        // Every control of the group fits in the page without scrolling.
        QQuickItem *slider = item("page1.pingTimeoutSlider");
        const QPointF bottom = slider->mapToScene(QPointF(0, slider->height()));
        QVERIFY2(bottom.y() <= 540, qPrintable(QString::number(bottom.y())));
        qml.render(QString("page1-%1.png").arg(QTest::currentDataTag()), 100);

        // Unplugged: the board is gone from the page, its buttons stay usable.
        board.unplug();
        qml.setCycle(100);
        QTRY_COMPARE(eval("page1.label_info.text").toString(),
                     QString("Type: n/a, Version: n/a, Channels: n/a"));
        QTRY_COMPARE(eval("page1.get_in_label.text").toString(), QString("n/a"));
        QVERIFY(eval("page1.remote_btn_m1.enabled").toBool());
        QCOMPARE(eval("page1.remote_btn_m2.enabled").toBool(), disabled.isEmpty());
    }

    void manualControlGroupGatesItsControls()
    {
        listPorts({boards[0]->portPath()});
        QVERIFY(load());
        boards[0]->clearReceived();
        QVERIFY(!eval("page1.controlGrid.enabled").toBool());
        click("page1.checkBox_l");
        click("page1.ch1Switch");
        click("page1.remote_btn_m1");
        QTest::qWait(100);
        QVERIFY(eval("page1.checkBox_l.checked").toBool());
        QVERIFY(!eval("page1.ch1Switch.checked").toBool());
        QVERIFY(boards[0]->receivedTexts().isEmpty());

        click("page1.groupContolBox");
        QCOMPARE(setting("manualon"), QString("true"));
        QVERIFY(eval("page1.controlGrid.enabled").toBool());
        click("page1.groupContolBox");
        QCOMPARE(setting("manualon"), QString("false"));
        QVERIFY(!eval("page1.controlGrid.enabled").toBool());
    }

    // What the page says of the board, in both languages: no board at all,
    // the older board in compatibility mode by its own name (the journal
    // keeps its texts), and readings that are no longer current once the
    // board stops answering the heartbeat.
    void boardAsTheUserSeesIt_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("state");
        for (const char *language : {"en", "ru"}) {
            for (const char *state : {"none", "older", "silent"})
                QTest::addRow("%s, %s", language, state) << language << state;
        }
    }

    void boardAsTheUserSeesIt()
    {
        QFETCH(QString, language);
        QFETCH(QString, state);
        Language shown(language);
        auto tr = [](const char *text) { return QCoreApplication::translate("Page1", text); };
        std::unique_ptr<BoardSimulator> board;
        if (state != "none") {
            board.reset(new BoardSimulator(state == "older" ? BoardSimulator::LegacyS
                                                            : BoardSimulator::X2));
            QVERIFY(board->start());
            listPorts({board->portPath()});
        }
        QSettings().setValue("legacy", state == "older");
        QSettings().setValue("manualon", true);
        QVERIFY(load());
        const QString info = tr("Type: %1, Version: %2, Channels: %3");
        const QString unread = info.arg(tr("n/a"), tr("n/a"), tr("n/a"));
        const QString notCurrent = "\n" + tr("No answer: these readings are not current");
        const QString grey = eval("page1.Material.hintTextColor").toString();
        if (state == "none") {
            QTRY_COMPARE(eval("page1.portsCombo.contentItem.text").toString(),
                         tr("No connected watchdogs detected"));
            QCOMPARE(eval("page1.portsCombo.contentItem.color").toString(), grey);
            QVERIFY(!eval("page1.portsCombo.contentItem.truncated").toBool());
            QCOMPARE(eval("page1.label_info.text").toString(), unread);
        } else if (state == "older") {
            qml.setCycle(100);
            QTRY_COMPARE(eval("page1.label_info.text").toString(),
                         info.arg("Ostrel S", "2.2", "1"));
            QTRY_VERIFY(journalText().contains(
                QCoreApplication::translate("Board", "Ostrel S2 v%1 connected").arg("2.2L")));
        } else {
            qml.setCycle(100);
            const QString identified = info.arg("Ostrel X2", "3.1", "2");
            QTRY_COMPARE(eval("page1.label_info.text").toString(), identified);
            QTRY_VERIFY(eval("page1.get_in_label.text").toString().endsWith("23.5\u2103"));
            board->setSilent(true);
            QTRY_COMPARE(eval("page1.label_info.text").toString(), identified + notCurrent);
            QCOMPARE(eval("page1.label_info.color").toString(), grey);
            QCOMPARE(eval("page1.get_in_label.color").toString(), grey);
            QVERIFY(eval("page1.get_in_label.text").toString().endsWith("23.5\u2103"));
        }
        qml.setCycle(3000);
        qml.render(QString("%1-main-%2.png").arg(language, state), 300);
        if (state == "silent") {
            // Answering again, it is current again.
            qml.setCycle(100);
            board->setSilent(false);
            QTRY_COMPARE(eval("page1.label_info.text").toString(),
                         info.arg("Ostrel X2", "3.1", "2"));
            qml.setCycle(3000);
        }
    }

    // The reading of the board's input as the page writes it.
    void inputReadingText_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("level");
        QTest::addColumn<int>("tenths");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << 0 << "" << 0 << "n/a";
        QTest::newRow("input") << 1 << "1" << 0 << "IN: 1";
        QTest::newRow("output") << 2 << "0" << 0 << "OUT: 0";
        QTest::newRow("temperature") << 3 << "" << 235 << "TEMP: 23.5\u2103";
        QTest::newRow("whole degrees") << 3 << "" << 230 << "TEMP: 23\u2103";
        QTest::newRow("below zero") << 3 << "" << -55 << "TEMP: -5.5\u2103";
    }

    void inputReadingText()
    {
        QFETCH(int, kind);
        QFETCH(QString, level);
        QFETCH(int, tenths);
        QFETCH(QString, text);
        if (!fresh.root())
            QVERIFY(fresh.create(QUrl("qrc:/main.qml"), journal.get()));
        const QString call =
            QString("page1.inputText(%1, '%2', %3)").arg(kind).arg(level).arg(tenths);
        QCOMPARE(fresh.eval(call).toString(), text);
    }

    void networkCheckStoresItsAddress()
    {
        QVERIFY(load());
        QCOMPARE(eval("page1.urlField.text").toString(), QString("disabled"));
        QVERIFY(!eval("page1.urlField.enabled").toBool());

        click("page1.urlCheckBox");
        QVERIFY(eval("page1.urlField.enabled").toBool());
        QCOMPARE(setting("ping/on"), QString("true"));
        QCOMPARE(eval("page1.urlField.text").toString(), QString("127.0.0.1"));
        QTRY_VERIFY(eval("HeartbeatState.networkCheck").toBool());

        // A typed address is saved when the field loses focus, and the cycle pings it.
        click("page1.urlField");
        eval("page1.urlField.selectAll()");
        typeText("127.0.0.2");
        click("page1.monitorCheckBox");
        QCOMPARE(setting("ping/url"), QString("127.0.0.2"));
        QTRY_COMPARE(eval("HeartbeatState.networkTarget").toString(), QString("127.0.0.2"));

        // An emptied field is not saved.
        eval("page1.urlField.text = ''; page1.urlField.editingFinished()");
        QCOMPARE(setting("ping/url"), QString("127.0.0.2"));

        // Unchecking shows "disabled"; checking again shows the saved address, not the typed text.
        eval("page1.urlField.text = '192.0.2.9'");
        click("page1.urlCheckBox");
        QCOMPARE(setting("ping/on"), QString("false"));
        QCOMPARE(eval("page1.urlField.text").toString(), QString("disabled"));
        QTRY_VERIFY(!eval("HeartbeatState.networkCheck").toBool());
        eval("page1.urlField.editingFinished()");
        QCOMPARE(setting("ping/url"), QString("127.0.0.2"));
        click("page1.urlCheckBox");
        QCOMPARE(eval("page1.urlField.text").toString(), QString("127.0.0.2"));
    }

    void processCheckStoresItsName()
    {
        QVERIFY(load());
        QCOMPARE(eval("page1.monitorField.placeholderText").toString(), QString("nautilus"));
        QVERIFY(!eval("page1.monitorField.enabled").toBool());
        QVERIFY(!eval("page1.processListTool.enabled").toBool());

        click("page1.monitorCheckBox");
        QCOMPARE(setting("monitoron"), QString("true"));
        QVERIFY(eval("page1.monitorField.enabled").toBool());
        QVERIFY(eval("page1.processListTool.enabled").toBool());
        QTRY_VERIFY(eval("HeartbeatState.processCheck").toBool());

        click("page1.monitorField");
        typeText("sshd");
        QCOMPARE(setting("monitor"), QString("sshd"));
        QTest::keyClick(window(), Qt::Key_Backspace);
        QCOMPARE(setting("monitor"), QString("ssh"));
        QTRY_COMPARE(eval("HeartbeatState.processName").toString(), QString("ssh"));

        click("page1.monitorCheckBox");
        QCOMPARE(setting("monitoron"), QString("false"));
        QVERIFY(!eval("page1.processListTool.enabled").toBool());
        QTRY_VERIFY(!eval("HeartbeatState.processCheck").toBool());
    }

    // The ping timeout row is faded and takes no input while the network
    // check is off; on, a click moves the slider to a step, which is stored
    // and used by the cycle.
    void pingTimeoutSliderFollowsTheNetworkCheck()
    {
        QSettings().setValue("manualon", true);
        QVERIFY(load());
        QQuickItem *slider = item("page1.pingTimeoutSlider");
        QCOMPARE(eval("page1.pingTimeoutSlider.value").toInt(), 1000);
        QCOMPARE(eval("page1.pingTimeoutText.text").toString(), QString("1000ms"));
        const QColor faded = eval("page1.ctrl_background").value<QColor>();
        QCOMPARE(faded, QColor("#f4f4f4"));
        for (const char *part :
             {"pingTimeoutLabel.color", "pingTimeoutText.color", "pingTimeoutSlider.handle.color",
              "pingTimeoutSlider.background.color"})
            QCOMPARE(eval(QString("page1.") + part).value<QColor>(), faded);
        qml.click(slider, 0.3);
        QCOMPARE(eval("page1.pingTimeoutSlider.value").toInt(), 1000);
        QCOMPARE(setting("ping/timeout"), QString("<absent>"));

        click("page1.urlCheckBox");
        QCOMPARE(eval("page1.pingTimeoutLabel.color").value<QColor>(), QColor("black"));
        QCOMPARE(eval("page1.pingTimeoutText.color").value<QColor>(), QColor("black"));
        QCOMPARE(eval("page1.pingTimeoutSlider.background.color").value<QColor>(), QColor("grey"));
        QVERIFY(eval("page1.pingTimeoutSlider.handle.color").value<QColor>() != faded);
        qml.click(slider, 0.3);
        const int value = eval("page1.pingTimeoutSlider.value").toInt();
        QVERIFY2(value != 1000 && value % 10 == 0, qPrintable(QString::number(value)));
        QCOMPARE(eval("page1.pingTimeoutSlider.value").toDouble(), double(value));
        QCOMPARE(setting("ping/timeout"), QString::number(value));
        QCOMPARE(eval("page1.pingTimeoutText.text").toString(), QString("%1ms").arg(value));
        QTRY_COMPARE(eval("HeartbeatState.pingTimeout").toInt(), value);
    }

    void contextMenuOnRightClickActsOnItsField()
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

        // Its entries act on their field.
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
        QCOMPARE(consoleCount("Process model reloaded"), 2);
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
        // whose process it is, too: only that user's processes count
        const int ownerRole = rows->roleNames().key("powner");
        QCOMPARE(setting("monitorowner"), rows->data(rows->index(row, 0), ownerRole).toString());
        QVERIFY(!setting("monitorowner").isEmpty());
        QTRY_VERIFY(!eval("page1.selectProcessDialog.visible").toBool());
        qml.render("page1-dialog.png");
    }
};

TOVEL3_TEST_MAIN(TestPage1)
#include "tst_page1.moc"
