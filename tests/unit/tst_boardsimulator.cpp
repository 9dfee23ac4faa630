#include "boardsim/boardsimulator.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <limits>

Q_DECLARE_METATYPE(BoardSimulator::Model)

namespace
{
// A client on the simulator's port, as the application opens it.
class Client
{
public:
    explicit Client(const QString &path)
    {
        port.setPortName(path);
        opened = port.open(QIODevice::ReadWrite);
        QTest::qWait(30); // the board notices its opener
    }
    void send(const QByteArray &bytes)
    {
        port.write(bytes);
        port.flush();
    }
    // Reads until `lines` newline-terminated replies came, or the time is up.
    QByteArray read(int lines, int timeoutMs = 2000)
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.count('\n') < lines && t.elapsed() < timeoutMs) {
            // The board lives on this thread: let the event loop run.
            QTest::qWait(10);
            const QByteArray chunk = port.readAll();
            if (!chunk.isEmpty()) {
                got += chunk;
                ++chunks;
            }
        }
        return got;
    }
    QByteArray quiet(int ms = 300) { return read(std::numeric_limits<int>::max(), ms); }
    QSerialPort port;
    bool opened = false;
    int chunks = 0;
};

} // namespace

class TestBoardSimulator : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void inputReading_data();
    void inputReading();
    void commandSplitAcrossWrites();
    void noiseAndUnfinishedCommands();
    void stateFollowsCommands();
    void watchdogFiresAtScaledTime();
    void heartbeatFeedsWatchdog();
    void suspensionHoldsWatchdog();
    void resetLimitAndDisabledClock();
    void receivedTimestamps();
    void silentDelayedSplitAndGarbage();
    void firmwareUpdateMode();
    void repliesDroppedWithoutOpener();
    void unplugAndPlugKeepLink();
    void linkPathRules();
    void commandLineFrontEnd();
};

void TestBoardSimulator::replies_data()
{
    QTest::addColumn<BoardSimulator::Model>("model");
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QByteArray>("reply");
    const auto X2 = BoardSimulator::X2, S2 = BoardSimulator::S2, S = BoardSimulator::LegacyS;

    QTest::newRow("X2 heartbeat+input") << X2 << QByteArray("~U~G") << QByteArray("~A\n~G0235\n");
    QTest::newRow("X2 handshake") << X2 << QByteArray("~L1~P0~I")
                                  << QByteArray("~L1\n~P0\n~I3.1U\n");
    QTest::newRow("X2 read settings") << X2 << QByteArray("~F") << QByteArray("~F52425120346\n");
    QTest::newRow("X2 write settings")
        << X2 << QByteArray("~W5242512A37d") << QByteArray("~F5242512A37d\n");
    QTest::newRow("X2 bad write body")
        << X2 << QByteArray("~W52425G2A37d~I") << QByteArray("~I3.1U\n");
    QTest::newRow("X2 short write") << X2 << QByteArray("~W52~I") << QByteArray("~I3.1U\n");
    QTest::newRow("X2 channels") << X2 << QByteArray("~S1~S2~R1~R2~S3")
                                 << QByteArray("~S1\n~S2\n~R1\n~R2\n");
    QTest::newRow("X2 tests and remotes")
        << X2 << QByteArray("~T1~T2~M1~M2~T3") << QByteArray("~T1\n~T2\n~M1\n~M2\n");
    QTest::newRow("X2 unknown") << X2 << QByteArray("~Q~L7~U") << QByteArray("~A\n");

    QTest::newRow("S2 heartbeat, no input") << S2 << QByteArray("~U~G") << QByteArray("~A\n");
    QTest::newRow("S2 handshake") << S2 << QByteArray("~L0~P1~I")
                                  << QByteArray("~L0\n~P1\n~I2.7L\n");
    QTest::newRow("S2 read settings") << S2 << QByteArray("~F") << QByteArray("~F52\n");
    QTest::newRow("S2 write settings") << S2 << QByteArray("~W3a") << QByteArray("~F3a\n");
    QTest::newRow("S2 one channel") << S2 << QByteArray("~S1~S2~R2~R1") << QByteArray("~S1\n~R1\n");
    QTest::newRow("S2 no remotes") << S2 << QByteArray("~M1~T1") << QByteArray("~T1\n");

    QTest::newRow("S heartbeat") << S << QByteArray("~U") << QByteArray("~A\n");
    QTest::newRow("S handshake") << S << QByteArray("~L1~P0~I") << QByteArray("~L1\n~P0\n~I2.2L\n");
    QTest::newRow("S no settings read") << S << QByteArray("~F~U") << QByteArray("~A\n");
    QTest::newRow("S write then identify") << S << QByteArray("~W7\n~I") << QByteArray("~I2.2L\n");
    QTest::newRow("S no input") << S << QByteArray("~G~U") << QByteArray("~A\n");
}

void TestBoardSimulator::replies()
{
    QFETCH(BoardSimulator::Model, model);
    QFETCH(QByteArray, write);
    QFETCH(QByteArray, reply);
    BoardSimulator board(model);
    QVERIFY(board.start());
    Client c(board.portPath());
    QVERIFY(c.opened);
    c.send(write);
    QCOMPARE(c.read(reply.count('\n')), reply);
    QCOMPARE(c.quiet(100), QByteArray()); // nothing more follows
    QCOMPARE(c.chunks, 1);                // the replies of one write leave together
}

void TestBoardSimulator::inputReading_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("input");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<QByteArray>("reply");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("off") << QByteArray("52425120046") << true << 20.0 << QByteArray("~GF000\n");
    QTest::newRow("input low") << QByteArray("52425120146") << false << 20.0
                               << QByteArray("~GI000\n");
    QTest::newRow("input high") << QByteArray("52425120146") << true << 20.0
                                << QByteArray("~GI001\n");
    QTest::newRow("output high") << QByteArray("52425120246") << true << 20.0
                                 << QByteArray("~GO001\n");
    QTest::newRow("temp 23.5") << QByteArray("52425120346") << false << 23.5
                               << QByteArray("~G0235\n");
    QTest::newRow("temp 23") << QByteArray("52425120346") << false << 23.0
                             << QByteArray("~G0230\n");
    QTest::newRow("temp -5.5") << QByteArray("52425120346") << false << -5.5
                               << QByteArray("~G-055\n");
    QTest::newRow("temp 104.96") << QByteArray("52425120346") << false << 104.96
                                 << QByteArray("~G1050\n");
    QTest::newRow("sensor missing")
        << QByteArray("52425120346") << false << nan << QByteArray("~GE000\n");
}

void TestBoardSimulator::inputReading()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, input);
    QFETCH(double, temperature);
    QFETCH(QByteArray, reply);
    BoardSimulator board(BoardSimulator::X2);
    QVERIFY(board.setSettings(settings));
    board.setInput(input);
    board.setTemperature(temperature);
    QVERIFY(board.start());
    Client c(board.portPath());
    c.send("~G");
    QCOMPARE(c.read(1), reply);
}

void TestBoardSimulator::commandSplitAcrossWrites()
{
    BoardSimulator board;
    QVERIFY(board.start());
    QSignalSpy commands(&board, &BoardSimulator::commandReceived);
    Client c(board.portPath());
    c.send("~");
    QTest::qWait(60);
    c.send("L");
    QTest::qWait(60);
    c.send("1~P");
    QTest::qWait(60);
    c.send("1~I~W5242");
    QTest::qWait(60);
    c.send("512A37d~U");
    QCOMPARE(c.read(5), QByteArray("~L1\n~P1\n~I3.1U\n~F5242512A37d\n~A\n"));
    QCOMPARE(board.receivedTexts(), (QList<QByteArray>{"~L1", "~P1", "~I", "~W5242512A37d", "~U"}));
    QCOMPARE(commands.size(), 5);
    QCOMPARE(commands.at(3).at(0).toByteArray(), QByteArray("~W5242512A37d"));
}

void TestBoardSimulator::noiseAndUnfinishedCommands()
{
    BoardSimulator board;
    QVERIFY(board.start());
    Client c(board.portPath());
    c.send("\r\n xx\x01~~U\r\n~L");
    QCOMPARE(c.read(1), QByteArray("~A\n"));
    // "~L" waits for its digit, then is given up; nothing is answered.
    QCOMPARE(c.quiet(800), QByteArray());
    QCOMPARE(board.receivedTexts(), (QList<QByteArray>{"~U", "~L"}));
    QVERIFY(board.led()); // unchanged
    // A "~" inside an unfinished command starts the next one.
    c.send("~P~U");
    QCOMPARE(c.read(1), QByteArray("~A\n"));
    QCOMPARE(board.receivedTexts().mid(2), (QList<QByteArray>{"~P", "~U"}));
    QVERIFY(!board.suspended());
}

void TestBoardSimulator::stateFollowsCommands()
{
    BoardSimulator board;
    QVERIFY(board.start());
    QVERIFY(board.led());
    QVERIFY(!board.suspended());
    Client c(board.portPath());
    c.send("~L0~P1~S2~W7242512A37d");
    QCOMPARE(c.read(4).count('\n'), 4);
    QVERIFY(!board.led());
    QVERIFY(board.suspended());
    QVERIFY(!board.channel(1));
    QVERIFY(board.channel(2));
    QCOMPARE(board.settings(), QByteArray("7242512A37d"));
    QCOMPARE(board.t1(), 7);
    c.send("~R2~L1~P0~S1");
    QCOMPARE(c.read(4).count('\n'), 4);
    QVERIFY(board.led());
    QVERIFY(!board.suspended());
    QVERIFY(board.channel(1));
    QVERIFY(!board.channel(2));

    board.setFirmwareVersion("4.0");
    c.send("~I");
    QCOMPARE(c.read(1), QByteArray("~I4.0U\n"));

    BoardSimulator legacy(BoardSimulator::LegacyS);
    QVERIFY(legacy.start());
    Client l(legacy.portPath());
    l.send("~W9\n");
    QCOMPARE(l.quiet(300), QByteArray());
    QCOMPARE(legacy.settings(), QByteArray("9"));
    QCOMPARE(legacy.receivedTexts(), QList<QByteArray>{"~W9\n"});
    QVERIFY(!legacy.setSettings("A"));
    QVERIFY(!board.setSettings("52"));
}

void TestBoardSimulator::watchdogFiresAtScaledTime()
{
    BoardSimulator board;
    QVERIFY(board.setSettings("22425120346")); // t1 = 2 min
    board.setTimeScale(0.15);                  // 2 min = 300 ms
    QSignalSpy resets(&board, &BoardSimulator::resetFired);
    QElapsedTimer t;
    t.start();
    QVERIFY(board.start());
    QVERIFY(board.clockRunning());
    QVERIFY(resets.wait(3000));
    const qint64 first = t.elapsed();
    QVERIFY2(first >= 290 && first < 1500, qPrintable(QString::number(first)));
    QCOMPARE(board.resetCount(), 1);
    // The clock starts again after a reset.
    QVERIFY(resets.wait(3000));
    QVERIFY2(t.elapsed() - first >= 290, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(board.resetCount(), 2);
}

void TestBoardSimulator::heartbeatFeedsWatchdog()
{
    BoardSimulator board;
    QVERIFY(board.setSettings("22425120346"));
    board.setTimeScale(0.2); // 400 ms
    QSignalSpy resets(&board, &BoardSimulator::resetFired);
    QVERIFY(board.start());
    Client c(board.portPath());
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1200) {
        c.send("~U");
        c.read(1, 500);
        QTest::qWait(100);
    }
    QCOMPARE(resets.size(), 0);
    QElapsedTimer sinceLast;
    c.send("~U");
    sinceLast.start();
    QVERIFY(resets.wait(3000));
    QVERIFY2(sinceLast.elapsed() >= 380, qPrintable(QString::number(sinceLast.elapsed())));
    QCOMPARE(board.resetCount(), 1);
}

void TestBoardSimulator::suspensionHoldsWatchdog()
{
    BoardSimulator board;
    QVERIFY(board.setSettings("12425120346"));
    board.setTimeScale(0.2); // 200 ms
    QSignalSpy resets(&board, &BoardSimulator::resetFired);
    QVERIFY(board.start());
    Client c(board.portPath());
    c.send("~P1");
    QCOMPARE(c.read(1), QByteArray("~P1\n"));
    QVERIFY(!board.clockRunning());
    c.send("~U"); // a heartbeat does not wake a suspended clock
    c.read(1);
    QVERIFY(!board.clockRunning());
    QTest::qWait(300);
    QCOMPARE(resets.size(), 0);
    c.send("~P0");
    QCOMPARE(c.read(1), QByteArray("~P0\n"));
    QVERIFY(board.clockRunning());
    QVERIFY(resets.wait(3000));
}

void TestBoardSimulator::resetLimitAndDisabledClock()
{
    BoardSimulator board;
    QVERIFY(board.setSettings("12425122346")); // t1 = 1 min, reset limit 2
    board.setTimeScale(0.1);                   // 100 ms
    QSignalSpy resets(&board, &BoardSimulator::resetFired);
    QVERIFY(board.start());
    QTRY_VERIFY(!board.clockRunning());
    QCOMPARE(board.resetCount(), 2);
    Client c(board.portPath());
    c.send("~U");
    c.read(1);
    QVERIFY(board.clockRunning());
    QVERIFY(resets.wait(2000));
    QCOMPARE(board.resetCount(), 3);

    c.send("~W02425122346"); // t1 = 0: no clock
    QCOMPARE(c.read(1), QByteArray("~F02425122346\n"));
    QVERIFY(!board.clockRunning());
    c.send("~U");
    c.read(1);
    QVERIFY(!board.clockRunning());
    QCOMPARE(board.resetCount(), 3);
}

void TestBoardSimulator::receivedTimestamps()
{
    BoardSimulator board;
    QVERIFY(board.start());
    Client c(board.portPath());
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    c.send("~U~G");
    c.read(2);
    QTest::qWait(300);
    c.send("~U");
    c.read(1);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    const QVector<BoardSimulator::Command> log = board.received();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log[0].text, QByteArray("~U"));
    QCOMPARE(log[1].text, QByteArray("~G"));
    QCOMPARE(log[2].text, QByteArray("~U"));
    QVERIFY(log[0].msecs >= before && log[2].msecs <= after);
    QVERIFY(log[1].msecs - log[0].msecs < 50);
    const qint64 gap = log[2].msecs - log[0].msecs;
    QVERIFY2(gap >= 280 && gap < 2000, qPrintable(QString::number(gap)));
    board.clearReceived();
    QVERIFY(board.received().isEmpty());
}

void TestBoardSimulator::silentDelayedSplitAndGarbage()
{
    BoardSimulator board;
    QVERIFY(board.start());
    Client c(board.portPath());

    board.setSilent(true);
    c.send("~U~L0");
    QCOMPARE(c.quiet(300), QByteArray());
    QCOMPARE(board.receivedTexts().size(), 2);
    QVERIFY(!board.led()); // state still follows
    board.setSilent(false);

    board.setReplyDelay(500);
    QElapsedTimer t;
    t.start();
    c.send("~U");
    QCOMPARE(c.read(1, 3000), QByteArray("~A\n"));
    QVERIFY2(t.elapsed() >= 450, qPrintable(QString::number(t.elapsed())));
    board.setReplyDelay(0);

    board.setSplitReplies(true);
    c.chunks = 0;
    c.send("~L1~P0~I");
    QCOMPARE(c.read(3), QByteArray("~L1\n~P0\n~I3.1U\n"));
    QCOMPARE(c.chunks, 2);
    board.setSplitReplies(false);

    board.setGarbage(QByteArray("\xff\x00#", 3));
    c.send("~U");
    QCOMPARE(c.read(1), QByteArray("\xff\x00#~A\n", 6));
    board.setGarbage(QByteArray());

    c.quiet(100);
    board.sendRaw("~A\n~GI001\n");
    QCOMPARE(c.read(2), QByteArray("~A\n~GI001\n"));
}

void TestBoardSimulator::firmwareUpdateMode()
{
    BoardSimulator board;
    QVERIFY(board.start());
    Client c(board.portPath());
    c.send("~D~U");
    QCOMPARE(c.quiet(300), QByteArray());
    QVERIFY(board.firmwareUpdateMode());
    QVERIFY(!board.clockRunning());
    QCOMPARE(board.receivedTexts(), (QList<QByteArray>{"~D", "~U"}));
    c.port.close();
    board.unplug();
    QVERIFY(board.plug());
    QVERIFY(!board.firmwareUpdateMode());
    Client again(board.portPath());
    again.send("~U");
    QCOMPARE(again.read(1), QByteArray("~A\n"));
}

void TestBoardSimulator::repliesDroppedWithoutOpener()
{
    BoardSimulator board;
    QVERIFY(board.start());
    board.setReplyDelay(300);
    {
        Client c(board.portPath());
        c.send("~U");
        QTRY_COMPARE(board.receivedTexts().size(), 1);
    } // closed before the answer leaves
    QTest::qWait(500);
    board.setReplyDelay(0);
    Client c(board.portPath());
    // A stale "~A" here would be taken for the answer to the next command.
    QCOMPARE(c.quiet(200), QByteArray());
    c.send("~I");
    QCOMPARE(c.read(1), QByteArray("~I3.1U\n"));

    // A command whose writer closes the port at once (as after "~T2") still
    // reaches the board, also when the board has just seen the port closed.
    c.port.close();
    QTest::qWait(5);
    board.clearReceived();
    {
        QSerialPort quick(board.portPath());
        QVERIFY(quick.open(QIODevice::ReadWrite));
        quick.write("~T2");
        QVERIFY(quick.flush());
    }
    QTRY_COMPARE(board.receivedTexts(), QList<QByteArray>{"~T2"});
}

void TestBoardSimulator::unplugAndPlugKeepLink()
{
    QTemporaryDir dir;
    const QString link = dir.path() + "/board";
    BoardSimulator board;
    QSignalSpy plugged(&board, &BoardSimulator::pluggedChanged);
    QVERIFY(board.start(link));
    QCOMPARE(board.portPath(), link);
    QVERIFY(board.isPlugged());
    QCOMPARE(QFileInfo(link).symLinkTarget(), board.slavePath());

    Client c(link);
    QVERIFY(c.opened);
    c.send("~L0");
    QCOMPARE(c.read(1), QByteArray("~L0\n"));

    board.unplug();
    QVERIFY(!board.isPlugged());
    QVERIFY(board.slavePath().isEmpty());
    QVERIFY(!board.clockRunning());
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(link));
    QVERIFY(!QSerialPort(link).open(QIODevice::ReadWrite));
    c.port.close();
    board.sendRaw("~A\n"); // nowhere to go; must not fail

    QVERIFY(board.plug());
    QVERIFY(board.isPlugged());
    QCOMPARE(QFileInfo(link).symLinkTarget(), board.slavePath());
    QCOMPARE(plugged.size(), 3); // start, unplug, plug
    Client again(link);
    QVERIFY(again.opened);
    again.send("~U~I");
    QCOMPARE(again.read(2), QByteArray("~A\n~I3.1U\n"));
    QVERIFY(!board.led()); // the board keeps its state across a re-plug
}

void TestBoardSimulator::linkPathRules()
{
    QTemporaryDir dir;
    const QString file = dir.path() + "/regular";
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    BoardSimulator refused;
    QVERIFY(!refused.start(file));
    QVERIFY(!refused.start(dir.path() + "/no/such/dir/board"));
    QVERIFY(!refused.isPlugged());
    QVERIFY(refused.start(dir.path() + "/second-try"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep me"));

    const QString stale = dir.path() + "/stale";
    QVERIFY(QFile::link("/nonexistent/pts", stale));
    QString defaultPath;
    {
        BoardSimulator board;
        QVERIFY(board.start(stale));
        QCOMPARE(QFileInfo(stale).symLinkTarget(), board.slavePath());
        BoardSimulator other;
        QVERIFY(other.start());
        defaultPath = other.portPath();
        QVERIFY(QFileInfo(defaultPath).isSymLink());
        QVERIFY(defaultPath != board.portPath());
    }
    QVERIFY(!QFileInfo(stale).isSymLink());
    QVERIFY(!QFileInfo(defaultPath).isSymLink());
}

void TestBoardSimulator::commandLineFrontEnd()
{
    const QString exe = qEnvironmentVariable("TOVEL3_BOARDSIM");
    if (exe.isEmpty())
        QSKIP("TOVEL3_BOARDSIM not set");
    QTemporaryDir dir;
    const QString link = dir.path() + "/cli-board";
    QProcess sim;
    sim.start(exe, {"--model", "s2", "--link", link, "--verbose"});
    QVERIFY(sim.waitForStarted());
    QTRY_VERIFY(sim.canReadLine());
    QCOMPARE(QString::fromLocal8Bit(sim.readLine()).trimmed(), link);
    {
        Client c(link);
        QVERIFY(c.opened);
        c.send("~U~I");
        QCOMPARE(c.read(2), QByteArray("~A\n~I2.7L\n"));
    }
    QByteArray log;
    QTRY_VERIFY((log += sim.readAll()).contains("~I2.7L"));
    QVERIFY(log.contains("<< ~U"));
    ::kill(pid_t(sim.processId()), SIGTERM);
    QVERIFY(sim.waitForFinished(3000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());

    QProcess bad;
    bad.start(exe, {"--model", "z9"});
    QVERIFY(bad.waitForFinished(3000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("z9"));
}

TOVEL3_TEST_MAIN(TestBoardSimulator)
#include "tst_boardsimulator.moc"
