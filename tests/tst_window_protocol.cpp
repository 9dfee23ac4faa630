// The board protocol of the main window against the simulated board: every
// command with its journal entry, the timer restart after a command, channel
// replies, every settings reply form and the write confirmation, and the
// compatibility mode for the old one-channel board.

#include "testenvironment.h"
#include "trayicon.h"
#include "windowharness.h"

#include <QApplication>
#include <QtTest>

using namespace WindowTest;

namespace
{
qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

int repliesHandled()
{
    int n = 0;
    for (const ConsoleLine &line : messages().console)
        n += line.text.startsWith(QLatin1String("<<")) ? 1 : 0;
    return n;
}

// Opens the window's channel on the board the way a command does and lets
// the board send `bytes`; true once the window has handled them.
bool deliver(Harness &h, const QByteArray &bytes)
{
    const int before = repliesHandled();
    bool opened = false;
    QMetaObject::invokeMethod(h.serial, "open", Q_RETURN_ARG(bool, opened),
                              Q_ARG(QString, h.board->portPath()));
    if (!opened)
        return false;
    h.board->sendRaw(bytes);
    return QTest::qWaitFor([&] { return repliesHandled() > before; }, 2000);
}

QObject *control(QObject *page, const char *name)
{
    return Harness::control(page, name);
}

int boxIndex(QObject *page, const char *name)
{
    QObject *o = control(page, name);
    return o ? o->property("currentIndex").toInt() : -99;
}

bool isOpen(QObject *serial)
{
    bool open = false;
    QMetaObject::invokeMethod(serial, "isOpen", Q_RETURN_ARG(bool, open));
    return open;
}
} // namespace

class TestWindowProtocol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installMessageHandler(); }
    void init()
    {
        // The reply tables share one window; every other case starts afresh.
        const QByteArray name = QTest::currentTestFunction();
        if (name != "switchAndInputReplies" && name != "settingsReplyForms")
            shared.reset();
        else if (shared)
            return;
        startCase();
    }
    void cleanup() { verifyNoQmlProblems(); }

    void commandsAreWrittenAndJournaled_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("staysOpen");

        QTest::newRow("test reset") << "~T1"
                                    << "Reset requested" << true;
        QTest::newRow("test power") << "~T2"
                                    << "Hard reset requested" << false;
        QTest::newRow("remote reset") << "~M1"
                                      << "Remote reset reqested" << true;
        QTest::newRow("remote power") << "~M2"
                                      << "Remote hard reset requested" << true;
        QTest::newRow("close 1") << "~S1"
                                 << "Requested channel 1 close" << true;
        QTest::newRow("close 2") << "~S2"
                                 << "Requested channel 2 close" << true;
        QTest::newRow("open 1") << "~R1"
                                << "Requested channel 1 open" << true;
        QTest::newRow("open 2") << "~R2"
                                << "Requested channel 2 open" << true;
        QTest::newRow("firmware update") << "~D"
                                         << "" << true;
        QTest::newRow("led") << "~L0"
                             << "" << true;
        QTest::newRow("suspend") << "~P1"
                                 << "" << true;
        QTest::newRow("read settings") << "~F"
                                       << "" << true;
    }

    void commandsAreWrittenAndJournaled()
    {
        QFETCH(QString, command);
        QFETCH(QString, entry);
        QFETCH(bool, staysOpen);

        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::X2));
        QVERIFY(h.load());
        const int lines = h.journalMessages().size();
        h.board->setSilent(true); // so the port state after the write shows
        h.call("serialCommand", command);
        QCOMPARE(isOpen(h.serial), staysOpen);
        if (entry.isEmpty()) {
            QCOMPARE(h.journalMessages().size(), lines);
        } else {
            QCOMPARE(h.journalMessages().size(), lines + 1);
            QVERIFY2(h.lastJournal().endsWith(" " + entry), qPrintable(h.lastJournal()));
        }
        // The simulator reads what was written before a close only when the
        // port is opened again (the next heartbeat), hence the long wait.
        QTRY_COMPARE_WITH_TIMEOUT(h.received(command.toLatin1()), 1, staysOpen ? 2000 : 4500);
        QCOMPARE(consoleCount(">>" + command), 1);
    }

    void journalEntryEvenWhenThePortFails()
    {
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::X2));
        QVERIFY(h.load());
        h.board->unplug();
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        emit tray->triggered(QStringLiteral("T2"));
        QCOMPARE(h.journalCount("Hard reset requested"), 1);
        QCOMPARE(consoleCount("!!Cannot write to "), 1);
        QVERIFY(!isOpen(h.serial));
    }

    void trayCommandsReachTheBoard()
    {
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::X2));
        QVERIFY(h.load());
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        emit tray->triggered(QStringLiteral("T1"));
        QTRY_COMPARE(h.received("~T1"), 1);
        emit tray->triggered(QStringLiteral("D"));
        QTRY_COMPARE(h.received("~D"), 1);
        QVERIFY(h.board->firmwareUpdateMode());
        QCOMPARE(h.journalCount("Reset requested"), 1);
    }

    void commandRestartsTheMonitoringPeriod()
    {
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::X2));
        QVERIFY(h.load());
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~G") >= 1, 8000); // past the handshake
        const int beats = h.received("~U");
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") > beats, 4000);
        QTest::qWait(1000);
        const qint64 commandAt = now();
        h.call("serialCommand", QStringLiteral("~F"));
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") > beats + 1, 4500);
        const qint64 gap = h.receivedTimes("~U").last() - commandAt;
        QVERIFY2(gap >= 2950 && gap <= 3400,
                 qPrintable(QString("next heartbeat %1 ms after the command").arg(gap)));
    }

    void channelRepliesThatAgreeAndContradict()
    {
        writeSettings({{"manualon", true}});
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::X2));
        QVERIFY(h.load());
        QObject *ch1 = control(h.page1, "ch1Switch");
        QObject *ch2 = control(h.page1, "ch2Switch");
        QVERIFY(ch1 && ch2);

        // The switch sends, the board echoes, the echo agrees: text only.
        ch1->setProperty("checked", true);
        QTRY_COMPARE(ch1->property("text").toString(), QStringLiteral("CH1 Closed"));
        QTest::qWait(300);
        QCOMPARE(h.received("~S1"), 1);
        QCOMPARE(h.journalCount("Requested channel 1 close"), 1);
        QVERIFY(h.board->channel(1));

        // A reply that contradicts the switch flips it and the switch sends
        // the matching command back.
        h.board->setSilent(true);
        QVERIFY(deliver(h, "~R1\n"));
        QVERIFY(!ch1->property("checked").toBool());
        QCOMPARE(ch1->property("text").toString(), QStringLiteral("CH1 Open"));
        QTRY_COMPARE(h.received("~R1"), 1);
        QCOMPARE(h.journalCount("Requested channel 1 open"), 1);

        QVERIFY(deliver(h, "~S2\n"));
        QVERIFY(ch2->property("checked").toBool());
        QCOMPARE(ch2->property("text").toString(), QStringLiteral("CH2 Closed"));
        QTRY_COMPARE(h.received("~S2"), 1);

        // Channels other than 1 and 2 are ignored.
        const int commands = h.board->receivedTexts().size();
        QVERIFY(deliver(h, "~S3\n~R0\n~S\n"));
        QTest::qWait(200);
        QCOMPARE(h.board->receivedTexts().size(), commands);
        QVERIFY(!ch1->property("checked").toBool());
        QVERIFY(ch2->property("checked").toBool());
    }

    void switchAndInputReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("led");
        QTest::addColumn<int>("suspend");

        QTest::newRow("ack and input") << QByteArray("~A\n~GI001\n") << "IN: 1" << -1 << -1;
        QTest::newRow("output") << QByteArray("~GO000") << "OUT: 0" << -1 << -1;
        QTest::newRow("temperature") << QByteArray("~G0235\n") << "TEMP: 23.5\u2103" << -1 << -1;
        QTest::newRow("whole degrees") << QByteArray("~G0230\n") << "TEMP: 23\u2103" << -1 << -1;
        QTest::newRow("below zero") << QByteArray("~G-055\n") << "TEMP: -5.5\u2103" << -1 << -1;
        QTest::newRow("sensor error") << QByteArray("~GE000\n") << "n/a" << -1 << -1;
        QTest::newRow("input off") << QByteArray("~GF000\n") << "n/a" << -1 << -1;
        QTest::newRow("led off") << QByteArray("~L0\n") << "" << 0 << -1;
        QTest::newRow("led on, suspended") << QByteArray("~L1\n~P1\n") << "" << 1 << 1;
        QTest::newRow("running") << QByteArray("~P0") << "" << -1 << 0;
    }

    void switchAndInputReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, input);
        QFETCH(int, led);
        QFETCH(int, suspend);

        if (!shared) {
            shared.reset(new Harness);
            QVERIFY(shared->addBoard(BoardSimulator::X2));
            QVERIFY(shared->load());
            shared->board->setSilent(true);
        }
        Harness &h = *shared;
        QObject *label = control(h.page1, "get_in_label");
        QObject *ledBox = control(h.page1, "checkBox_l");
        QObject *suspendBox = control(h.page1, "checkBox_p");
        label->setProperty("text", QString());
        ledBox->setProperty("checked", led != 1);
        suspendBox->setProperty("checked", suspend != 1);
        const int commands = h.board->receivedTexts().size();

        QVERIFY(deliver(h, reply));
        QCOMPARE(label->property("text").toString(), input);
        if (led >= 0)
            QCOMPARE(ledBox->property("checked").toBool(), led == 1);
        if (suspend >= 0)
            QCOMPARE(suspendBox->property("checked").toBool(), suspend == 1);
        if (reply.startsWith("~A"))
            QCOMPARE(h.tray->property("iconSource").toString(), QStringLiteral("tovel3_g.png"));
        // Switch replies never answer back.
        QTest::qWait(50);
        int switchCommands = 0;
        for (const QByteArray &c : h.board->receivedTexts().mid(commands))
            switchCommands += c.startsWith("~L") || c.startsWith("~P") ? 1 : 0;
        QCOMPARE(switchCommands, 0);
    }

    void settingsReplyForms_data()
    {
        QTest::addColumn<QByteArray>("reply");
        // t1 t2 t3 t4 t5 CH1 CH2 limit IN; -1 = no selection
        QTest::addColumn<QVector<int>>("boxes");
        QTest::addColumn<int>("threshold");
        QTest::addColumn<bool>("twoChannel");
        QTest::addColumn<bool>("writeEnabled");

        QTest::newRow("two-channel, mixed case")
            << QByteArray("~F5242512A37d\n") << QVector<int>{5, 2, 4, 2, 5, 1, 2, 10, 3} << 125
            << true << true;
        QTest::newRow("two-channel default")
            << QByteArray("~F52425120346") << QVector<int>{5, 2, 4, 2, 5, 1, 2, 0, 3} << 70 << true
            << true;
        QTest::newRow("t3 above 11")
            << QByteArray("~F52C2512A37d\n") << QVector<int>{5, 2, 10, 2, 5, 1, 2, 10, 3} << 125
            << true << true;
        QTest::newRow("t3 is 11") << QByteArray("~F52B2512A37d\n")
                                  << QVector<int>{5, 2, 11, 2, 5, 1, 2, 10, 3} << 125 << true
                                  << true;
        QTest::newRow("threshold above 125")
            << QByteArray("~Ff0000000aff\n") << QVector<int>{15, 0, 0, 0, 0, 0, 0, 0, 10} << 125
            << true << true;
        QTest::newRow("one-channel")
            << QByteArray("~F52\n") << QVector<int>{5, 2, -1, -1, -1, 1, -1, -1, -1} << -1 << false
            << true;
        QTest::newRow("not hexadecimal")
            << QByteArray("~F5x425120346\n") << QVector<int>{5, -1, 4, 2, 5, 1, 2, 0, 3} << 70
            << true << true;
        QTest::newRow("unknown length")
            << QByteArray("~F123\n") << QVector<int>{} << -1 << true << false;
    }

    void settingsReplyForms()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QVector<int>, boxes);
        QFETCH(int, threshold);
        QFETCH(bool, twoChannel);
        QFETCH(bool, writeEnabled);

        if (!shared) {
            shared.reset(new Harness);
            QVERIFY(shared->addBoard(BoardSimulator::X2));
            QVERIFY(shared->load());
            shared->board->setSilent(true);
        }
        Harness &h = *shared;
        const char *names[] = {"t1Box", "t2Box", "t3Box", "t4Box", "t5Box",
                               "p6Box", "p7Box", "p8Box", "p9Box"};
        // Start from a state the reply must change.
        for (const char *name : names)
            control(h.page2, name)->setProperty("currentIndex", 7);
        control(h.page2, "p10spinBox")->setProperty("value", 33);
        control(h.page2, "writebutton")->setProperty("enabled", !writeEnabled);
        const int unknownBefore = consoleCount("Unknown settings");

        QVERIFY(deliver(h, reply));
        for (int i = 0; i < boxes.size(); ++i)
            QCOMPARE(boxIndex(h.page2, names[i]), boxes[i]);
        if (threshold >= 0)
            QCOMPARE(control(h.page2, "p10spinBox")->property("value").toInt(), threshold);
        else
            QCOMPARE(control(h.page2, "p10spinBox")->property("value").toInt(), 33);
        QCOMPARE(control(h.page2, "writebutton")->property("enabled").toBool(), writeEnabled);
        QCOMPARE(consoleCount("Unknown settings"), unknownBefore + (writeEnabled ? 0 : 1));
        if (writeEnabled) {
            QCOMPARE(control(h.page2, "t3Group")->property("enabled").toBool(), twoChannel);
            QCOMPARE(control(h.page2, "channelGroup")->property("enabled").toBool(), twoChannel);
            QCOMPARE(control(h.page2, "tempGroup")->property("enabled").toBool(), twoChannel);
        }
        QVERIFY(control(h.page2, "t1Group")->property("enabled").toBool());
        QVERIFY(control(h.page2, "t2Group")->property("enabled").toBool());
    }

    void settingsAreReadOnEnteringTheTabAndWrittenWithConfirmation()
    {
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::X2));
        QVERIFY(h.board->setSettings("5242512A37d"));
        QVERIFY(h.load());
        QObject *tabBar = h.child("tabBar");
        QObject *write = control(h.page2, "writebutton");

        QMetaObject::invokeMethod(tabBar, "setCurrentIndex", Q_ARG(int, 1));
        QTRY_COMPARE(h.received("~F"), 1);
        QTRY_COMPARE(boxIndex(h.page2, "p8Box"), 10);
        QCOMPARE(control(h.page2, "p10spinBox")->property("value").toInt(), 125);

        // Written back with t1 = 10 minutes; the board answers with its
        // settings, which confirms the write.
        control(h.page2, "t1Box")->setProperty("currentIndex", 10);
        const qint64 writtenAt = now();
        QMetaObject::invokeMethod(write, "clicked");
        QTRY_COMPARE(h.received("~WA242512A37d"), 1);
        QTRY_COMPARE(write->property("text").toString(),
                     QStringLiteral("<font color=\"green\">OK</font>"));
        QCOMPARE(h.board->settings(), QByteArray("A242512A37d"));
        QTRY_COMPARE_WITH_TIMEOUT(write->property("text").toString(), QStringLiteral("Write"),
                                  1500);
        QVERIFY(now() - writtenAt >= 750);
        QVERIFY(!h.root->property("wait_write").toBool());

        // No answer: "Failed" 800 ms after the write, "Write" 800 ms later.
        h.board->setSilent(true);
        const qint64 silentAt = now();
        QMetaObject::invokeMethod(write, "clicked");
        QTRY_COMPARE_WITH_TIMEOUT(write->property("text").toString(),
                                  QStringLiteral("<font color=\"red\">Failed</font>"), 1500);
        const qint64 failedAfter = now() - silentAt;
        QVERIFY2(failedAfter >= 750 && failedAfter <= 1300,
                 qPrintable(QString::number(failedAfter)));
        QTRY_COMPARE_WITH_TIMEOUT(write->property("text").toString(), QStringLiteral("Write"),
                                  1500);
        QVERIFY(now() - silentAt >= 1550);

        // Leaving and entering the tab again reads again.
        QMetaObject::invokeMethod(tabBar, "setCurrentIndex", Q_ARG(int, 0));
        QMetaObject::invokeMethod(tabBar, "setCurrentIndex", Q_ARG(int, 1));
        QTRY_COMPARE(h.received("~F"), 2);
    }

    void oneChannelBoardReadsAndWritesTwoFields()
    {
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::S2));
        QVERIFY(h.load());
        QMetaObject::invokeMethod(h.child("tabBar"), "setCurrentIndex", Q_ARG(int, 1));
        QTRY_COMPARE(h.received("~F"), 1);
        QTRY_VERIFY(!control(h.page2, "t3Group")->property("enabled").toBool());
        QCOMPARE(boxIndex(h.page2, "t1Box"), 5);
        QCOMPARE(boxIndex(h.page2, "p6Box"), 1);
        control(h.page2, "t2Box")->setProperty("currentIndex", 15);
        QObject *write = control(h.page2, "writebutton");
        QMetaObject::invokeMethod(write, "clicked");
        QTRY_COMPARE(h.received("~W5F"), 1);
        QTRY_COMPARE(write->property("text").toString(),
                     QStringLiteral("<font color=\"green\">OK</font>"));
        QCOMPARE(h.board->settings(), QByteArray("5F"));
    }

    void oldBoardInCompatibilityMode()
    {
        writeSettings({{"legacy", true}, {"t1", 12}});
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::LegacyS));
        QVERIFY(h.load());
        QTRY_VERIFY(h.received("~W9\n") >= 1);
        QCOMPARE(h.board->t1(), 9);
        QVERIFY(checked(h.page3, "legacySwitch"));

        // Heartbeat, handshake and identification as for the other boards.
        QTRY_COMPARE_WITH_TIMEOUT(h.page1->property("wdg_type").toString(), QStringLiteral("L"),
                                  8000);
        QCOMPARE(h.journalCount("Ostrel S2 v2.2L connected"), 1);

        // The settings tab shows the stored t1 and reads nothing.
        QMetaObject::invokeMethod(h.child("tabBar"), "setCurrentIndex", Q_ARG(int, 1));
        QCOMPARE(boxIndex(h.page2, "t1Box"), 12);
        QVERIFY(!control(h.page2, "readbutton")->property("enabled").toBool());
        QTest::qWait(300);
        QCOMPARE(h.received("~F"), 0);

        // Write stores t1 and sends one digit; no confirmation is awaited.
        control(h.page2, "t1Box")->setProperty("currentIndex", 3);
        QObject *write = control(h.page2, "writebutton");
        QMetaObject::invokeMethod(write, "clicked");
        QTRY_COMPARE(h.received("~W3\n"), 1);
        QCOMPARE(stored("t1"), QStringLiteral("3"));
        QVERIFY(!h.root->property("wait_write").toBool());
        QTest::qWait(1000);
        QCOMPARE(write->property("text").toString(), QStringLiteral("Write"));
        QCOMPARE(h.board->t1(), 3);
    }

    // A port change announces the board found there, even when the board
    // on the previous port was identified but had not yet acknowledged a
    // heartbeat (compatibility mode identifies before the first one).
    void portChangeAnnouncesTheNewBoardBeforeAnyAcknowledgement()
    {
        writeSettings({{"legacy", true}});
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::LegacyS));
        QVERIFY(h.load());
        QTRY_COMPARE(h.journalCount("Ostrel S2 v2.2L connected"), 1);
        QVERIFY(h.root->property("first_ack").toBool());

        BoardSimulator second(BoardSimulator::LegacyS);
        QVERIFY(second.start(h.dir.path() + QStringLiteral("/second")));
        QVERIFY(QMetaObject::invokeMethod(h.page1, "portChanged",
                                          Q_ARG(QVariant, QVariant(second.portPath()))));
        QTRY_COMPARE(h.journalCount("Ostrel S2 v2.2L connected"), 2);
    }

private:
    static bool checked(QObject *page, const char *name)
    {
        QObject *o = control(page, name);
        return o && o->property("checked").toBool();
    }

    std::unique_ptr<Harness> shared;
};

TOVEL3_TEST_MAIN(TestWindowProtocol)
#include "tst_window_protocol.moc"
