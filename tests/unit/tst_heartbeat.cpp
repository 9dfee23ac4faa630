// The monitoring cycle against a real Board and a simulated board on a
// pseudo-terminal, with short intervals: the period, the lamp, the checks
// that gate it (a real ping of the loopback address through a stand-in that
// can fail or stall without sending anything, a real child process stopped
// and continued), probes that must not count, commands, late replies and an
// unplugged board beside it. What the Board does with the board's replies is
// tst_board's; the cycle on the engine's own thread is tst_engine's.

#include "monitor/heartbeat.h"
#include "monitor/pingprocess.h"
#include "support/boardrig.h"
#include "support/pingstandin.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace
{
// A uniquely named copy of sleep, so that no other process on the machine
// carries its image name.
class WatchedChild
{
public:
    WatchedChild()
    {
        name = QStringLiteral("tovel3hb%1").arg(QCoreApplication::applicationPid());
        const QString path = m_dir.filePath(name);
        QFile::copy(QStringLiteral("/bin/sleep"), path);
        m_process.start(path, {QStringLiteral("600")});
        m_process.waitForStarted();
    }
    ~WatchedChild()
    {
        setStopped(false);
        m_process.kill();
        m_process.waitForFinished();
    }
    void setStopped(bool stopped) { ::kill(m_process.processId(), stopped ? SIGSTOP : SIGCONT); }

    QString name;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// The shared rig with the Board on the port and the cycle on top.
struct Rig : BoardRig {
    explicit Rig(BoardSimulator::Model model = BoardSimulator::X2, int interval = 100)
        : BoardRig(model)
    {
        board.setPort(sim.portPath());
        hb.setInterval(interval);
        hb.setJournal(&journal);
    }

    // The network check (on the loopback address) and the process check,
    // journaled or not.
    void setChecks(bool network, bool process, const QString &processName, bool logging)
    {
        hb.setNetworkCheck(network);
        hb.setNetworkTarget(QStringLiteral("127.0.0.1"));
        hb.setProcessCheck(process);
        hb.setProcessName(processName);
        hb.setLogNetwork(logging);
        hb.setLogProcess(logging);
    }

    Heartbeat hb{&board};
};

enum class Action { None, SwitchOff, Stop, NoTool };
} // namespace

Q_DECLARE_METATYPE(Action)

class TestHeartbeat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Console::capture();
        qRegisterMetaType<Action>();
    }

    void init() { Console::clear(); }

    void cycleWithoutChecksFeedsOncePerPeriod_data()
    {
        QTest::addColumn<bool>("processCheck");
        QTest::newRow("no check") << false;
        QTest::newRow("process check without a name") << true;
    }

    void cycleWithoutChecksFeedsOncePerPeriod()
    {
        QFETCH(bool, processCheck);
        const int interval = 100;
        Rig r(BoardSimulator::X2, interval);
        QVERIFY(r.started);
        r.hb.setProcessCheck(processCheck);
        QElapsedTimer clock;
        clock.start();
        r.hb.setClock([&clock] { return clock.elapsed() + 1; });
        QVector<qint64> beats;
        connect(&r.hb, &Heartbeat::heartbeatsSentChanged, [&] { beats << r.hb.lastHeartbeat(); });
        QCOMPARE(r.hb.lamp(), Heartbeat::Off);
        QCOMPARE(r.hb.lastHeartbeat(), 0);

        r.hb.start();
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.cycle() >= 14, 5000);
        r.hb.stop();
        // Every cycle took the third way and fed the board exactly once.
        QCOMPARE(r.hb.heartbeatsSent(), r.hb.cycle());
        QCOMPARE(Console::count(QStringLiteral("restart timer")), r.hb.cycle());
        QTRY_COMPARE(r.received("~U"), r.hb.heartbeatsSent());
        QVERIFY(r.hb.processOk());

        // From the handshake on the mean gap is the interval. (A heartbeat
        // written late behind a slow answer may be followed closely by the
        // next one; the counts above show that each cycle fed once.)
        QVERIFY(beats.size() >= 14);
        const double mean = double(beats.last() - beats[3]) / (beats.size() - 4);
        QVERIFY2(mean >= interval * 0.9 && mean <= interval * 1.2,
                 qPrintable(QStringLiteral("mean gap %1 ms").arg(mean)));
    }

    void lampFollowsEachExchange()
    {
        Rig r(BoardSimulator::X2, 700);
        QVERIFY(r.started);
        QElapsedTimer clock;
        clock.start();
        struct Event {
            qint64 ms;
            Heartbeat::Lamp lamp;
        };
        QVector<Event> events;
        connect(&r.hb, &Heartbeat::lampChanged, [&](Heartbeat::Lamp lamp) {
            events.append({clock.elapsed(), lamp});
        });
        qint64 ackAt = -1;
        connect(&r.sim, &BoardSimulator::replySent, [&](const QByteArray &bytes) {
            if (bytes.startsWith("~A"))
                ackAt = clock.elapsed();
        });
        r.hb.start();

        // Past the handshake, then one whole exchange.
        QTRY_VERIFY_WITH_TIMEOUT(r.received("~G") >= 1, 3000);
        QTRY_COMPARE(r.hb.lamp(), Heartbeat::Off);
        events.clear();
        const int acks = r.hb.acksReceived();
        QTRY_VERIFY_WITH_TIMEOUT(events.size() >= 3, 2000);
        QCOMPARE(events.size(), 3);
        QCOMPARE(events[0].lamp, Heartbeat::Sent);
        QCOMPARE(events[1].lamp, Heartbeat::Acknowledged);
        QCOMPARE(events[2].lamp, Heartbeat::Off);
        const qint64 unlit = events[2].ms - ackAt;
        QVERIFY2(unlit >= Heartbeat::lampHoldMs - 20 && unlit <= Heartbeat::lampHoldMs + 300,
                 qPrintable(QStringLiteral("dark %1 ms after the reply").arg(unlit)));
        QCOMPARE(r.hb.acksReceived(), acks + 1);
        QVERIFY(r.hb.lastAck() >= r.hb.lastHeartbeat());

        // A board that does not answer leaves the lamp on "sent".
        r.sim.setSilent(true);
        const int beats = r.hb.heartbeatsSent();
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.heartbeatsSent() > beats, 1500);
        QTest::qWait(Heartbeat::lampHoldMs + 100);
        QCOMPARE(r.hb.lamp(), Heartbeat::Sent);
        QCOMPARE(r.hb.acksReceived(), acks + 1);
    }

    void checksGateTheHeartbeat_data()
    {
        QTest::addColumn<bool>("network");
        QTest::addColumn<bool>("process");
        QTest::addColumn<bool>("failNetwork"); // else the process fails
        QTest::addColumn<bool>("logging");
        QTest::newRow("network") << true << false << true << true;
        QTest::newRow("network, not journaled") << true << false << true << false;
        QTest::newRow("process") << false << true << false << true;
        QTest::newRow("both, the process fails") << true << true << false << true;
    }

    void checksGateTheHeartbeat()
    {
        QFETCH(bool, network);
        QFETCH(bool, process);
        QFETCH(bool, failNetwork);
        QFETCH(bool, logging);
        PingStandIn ping;
        WatchedChild child;
        Rig r(BoardSimulator::X2, 100);
        QVERIFY(r.started);
        r.setChecks(network, process, child.name, logging);
        const QString failed =
            failNetwork ? QStringLiteral("Network address 127.0.0.1 is unreachable")
                        : QStringLiteral("Process %1 died or is hanging").arg(child.name);
        const QString restored =
            failNetwork ? QStringLiteral("Network access to 127.0.0.1 restored")
                        : QStringLiteral("Process %1 is running normally").arg(child.name);
        auto fail = [&](bool on) {
            if (failNetwork)
                ping.setDown(on);
            else
                child.setStopped(on);
        };
        auto healthy = [&] { return failNetwork ? r.hb.networkOk() : r.hb.processOk(); };

        // Healthy from the start: heartbeats, and a first success is not news.
        r.hb.start();
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.heartbeatsSent() >= 2, 3000);
        QCOMPARE(Console::count(QStringLiteral("Ping 127.0.0.1")) > 0, network);
        QCOMPARE(Console::count(QStringLiteral("restart timer")), 0);

        // Failing from just after a heartbeat on, for at least three cycles.
        QSignalSpy beat(&r.hb, &Heartbeat::heartbeatsSentChanged);
        QVERIFY(beat.wait(2000));
        fail(true);
        const int sent = r.hb.heartbeatsSent();
        const int firstFailing = r.hb.cycle() + 1;
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.cycle() >= firstFailing + 3 && !healthy(), 3000);
        fail(false);
        QCOMPARE(r.hb.heartbeatsSent(), sent);
        QCOMPARE(r.journalCount(failed), logging ? 1 : 0);
        QCOMPARE(r.hb.networkOk(), !failNetwork);
        QCOMPARE(r.hb.processOk(), failNetwork);

        // Healthy again: heartbeats, and the recovery journaled once.
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.heartbeatsSent() > sent, 2000);
        QVERIFY(healthy());
        QCOMPARE(r.journalCount(failed), logging ? 1 : 0);
        QCOMPARE(r.journalCount(restored), logging ? 1 : 0);
        const QStringList checkLines =
            r.journalLines().filter(failNetwork ? QStringLiteral("127.0.0.1") : child.name);
        QCOMPARE(checkLines.size(), logging ? 2 : 0);
    }

    void processIsNotCheckedWhileTheNetworkIsDown()
    {
        PingStandIn ping;
        ping.setDown(true);
        WatchedChild child;
        child.setStopped(true);
        Rig r(BoardSimulator::X2, 100);
        QVERIFY(r.started);
        r.setChecks(true, true, child.name, true);
        const QString died = QStringLiteral("Process %1 died or is hanging").arg(child.name);

        r.hb.start();
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.cycle() >= 3 && !r.hb.networkOk(), 3000);
        QCOMPARE(r.journalCount(QStringLiteral("Network address 127.0.0.1 is unreachable")), 1);
        QCOMPARE(r.journalCount(died), 0);
        QVERIFY(r.hb.processOk());

        // Network back, process still stopped: now the process fails.
        ping.setDown(false);
        QTRY_COMPARE_WITH_TIMEOUT(r.journalCount(died), 1, 2000);
        QVERIFY(!r.hb.processOk());
        QCOMPARE(r.hb.heartbeatsSent(), 0);
        QCOMPARE(r.received("~U"), 0);

        child.setStopped(false);
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.heartbeatsSent() >= 1, 2000);
        QTRY_COMPARE(r.received("~U"), r.hb.heartbeatsSent());
    }

    void probesThatProveNothing_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<QByteArray>("slowSeconds");
        QTest::addColumn<Action>("action");
        QTest::addColumn<bool>("networkOk");
        // Each probe outlasts its cycle and is killed by the next start.
        QTest::newRow("killed by the next start")
            << 150 << QByteArray("0.4") << Action::None << false;
        // These answer, but too late.
        QTest::newRow("check switched off")
            << 500 << QByteArray("0.2") << Action::SwitchOff << true;
        QTest::newRow("cycle stopped") << 500 << QByteArray("0.2") << Action::Stop << true;
        // No result at all, and one warning.
        QTest::newRow("no ping tool") << 100 << QByteArray() << Action::NoTool << true;
    }

    void probesThatProveNothing()
    {
        QFETCH(int, interval);
        QFETCH(QByteArray, slowSeconds);
        QFETCH(Action, action);
        QFETCH(bool, networkOk);
        PingStandIn ping;
        if (!slowSeconds.isEmpty())
            ping.setSlow(slowSeconds);
        if (action == Action::NoTool)
            ping.setHidden(true);
        Rig r(BoardSimulator::X2, interval);
        QVERIFY(r.started);
        r.hb.setNetworkCheck(true);
        r.hb.setNetworkTarget(QStringLiteral("127.0.0.1"));
        auto *probe = r.hb.findChild<PingProcess *>();
        QVERIFY(probe);
        QSignalSpy probed(probe, &PingProcess::finished);

        QSignalSpy ticked(&r.hb, &Heartbeat::cycleChanged);
        r.hb.start();
        QVERIFY(ticked.wait(interval * 3));
        switch (action) {
        case Action::SwitchOff:
            r.hb.setNetworkCheck(false);
            QVERIFY(probed.wait(2000));
            QCOMPARE(probe->exitCode(), 0);
            break;
        case Action::Stop:
            r.hb.stop();
            QVERIFY(probed.wait(2000));
            QCOMPARE(probe->exitCode(), 0);
            break;
        case Action::None:
        case Action::NoTool:
            QTRY_VERIFY_WITH_TIMEOUT(r.hb.cycle() >= 7, 3000);
            QVERIFY(action == Action::NoTool || probed.count() >= 3);
            break;
        }
        QCOMPARE(r.hb.heartbeatsSent(), 0);
        QCOMPARE(r.received("~U"), 0);
        QCOMPARE(r.hb.lamp(), Heartbeat::Off);
        QCOMPARE(r.hb.networkOk(), networkOk);
        QCOMPARE(Console::warnings(QStringLiteral("ping could not be started")),
                 action == Action::NoTool ? 1 : 0);
    }

    // Commands more often than the period (a monitoring script, a busy
    // user) hold a heartbeat back by one exchange at most.
    void commandsNeverStarveTheHeartbeat()
    {
        const int interval = 200;
        Rig r(BoardSimulator::X2, interval);
        QVERIFY(r.started);
        QElapsedTimer clock;
        clock.start();
        r.hb.setClock([&clock] { return clock.elapsed() + 1; });
        QVector<qint64> beats;
        connect(&r.hb, &Heartbeat::heartbeatsSentChanged, [&] { beats << r.hb.lastHeartbeat(); });
        int n = 0;
        QTimer commands;
        connect(&commands, &QTimer::timeout, [&] {
            if (++n % 2)
                r.board.readSettings();
            else
                r.board.setLed(n % 4 == 0);
        });
        r.hb.start();
        commands.start(interval * 4 / 5);
        QTest::qWait(interval * 12);
        commands.stop();
        r.hb.stop();
        QVERIFY2(beats.size() >= 9, qPrintable(QStringLiteral("%1 heartbeats").arg(beats.size())));
        for (int i = 1; i < beats.size(); ++i)
            QVERIFY2(beats[i] - beats[i - 1] <= interval + Board::ExchangeTimeoutMs,
                     qPrintable(QStringLiteral("gap %1 ms").arg(beats[i] - beats[i - 1])));
        QVERIFY(r.received("~F") >= 6);
    }

    void channelSwitchedTwiceQuicklyDoesNotStarveTheCycle()
    {
        // The board echoes each channel command; two opposite commands in a
        // row must not turn into an exchange without end, which would
        // postpone every heartbeat.
        Rig r(BoardSimulator::X2, 100);
        QVERIFY(r.started);
        r.hb.start();
        QTRY_COMPARE_WITH_TIMEOUT(r.board.modelLetter(), QStringLiteral("U"), 3000);
        r.board.setChannel(1, true);
        r.board.setChannel(1, false);
        const int sent = r.hb.heartbeatsSent();
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.heartbeatsSent() >= sent + 3, 1500);
        QVERIFY2(
            r.received("~S1") + r.received("~R1") <= 4,
            qPrintable(
                QStringLiteral("%1 channel commands").arg(r.received("~S1") + r.received("~R1"))));
        QCOMPARE(r.board.channel1Closed(), r.sim.channel(1));
    }

    // An unplugged board: a heartbeat that cannot be written is not counted,
    // the lamp shows the attempt, and the board is forgotten; plugged back,
    // it is fed again.
    void unpluggedBoardIsNotCountedAsFed()
    {
        Rig r(BoardSimulator::X2, 100);
        QVERIFY(r.started);
        r.hb.start();
        QTRY_COMPARE_WITH_TIMEOUT(r.board.modelLetter(), QStringLiteral("U"), 3000);
        r.sim.unplug();
        const int sent = r.hb.heartbeatsSent();
        QTRY_COMPARE_WITH_TIMEOUT(r.board.modelLetter(), QString(), 1000);
        const int cycle = r.hb.cycle();
        QTRY_VERIFY(r.hb.cycle() > cycle);
        QCOMPARE(r.hb.heartbeatsSent(), sent);
        QCOMPARE(r.hb.lamp(), Heartbeat::Sent);

        QVERIFY(r.sim.plug());
        QTRY_COMPARE_WITH_TIMEOUT(r.board.modelLetter(), QStringLiteral("U"), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.heartbeatsSent() > sent, 1000);
    }

    // Replies later than the period: each heartbeat waits for the exchange
    // under way and the cycle goes on; back to normal, the lamp still goes
    // dark after the replies.
    void lateRepliesKeepTheCycleGoing()
    {
        const int interval = 250;
        Rig r(BoardSimulator::X2, interval);
        QVERIFY(r.started);
        r.hb.start();
        QTRY_COMPARE_WITH_TIMEOUT(r.board.modelLetter(), QStringLiteral("U"), 3000);
        r.sim.setReplyDelay(interval + interval / 10);
        const int beats = r.hb.heartbeatsSent();
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.heartbeatsSent() >= beats + 3, 3000);
        r.sim.setReplyDelay(0);

        QSignalSpy lamp(&r.hb, &Heartbeat::lampChanged);
        const int inputs = r.received("~G");
        const int acks = r.hb.acksReceived();
        QTRY_VERIFY_WITH_TIMEOUT(r.received("~G") > inputs, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(r.hb.acksReceived() > acks, 2000);
        auto wentDark = [&lamp] {
            for (const QList<QVariant> &args : lamp) {
                if (args.at(0).value<Heartbeat::Lamp>() == Heartbeat::Off)
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(wentDark(), 2000);
        QCOMPARE(r.board.modelLetter(), QStringLiteral("U"));
    }
};

int main(int argc, char **argv)
{
    TestEnvironment::isolate();
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Brennic"));
    app.setApplicationName(QStringLiteral("Tovel3"));
    TestHeartbeat tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_heartbeat.moc"
