// The health checks that gate the heartbeat, end to end: a real ping of the
// loopback address (a stand-in ping fails on request without sending
// anything), and a real child process stopped and continued.

#include "testenvironment.h"
#include "windowharness.h"

#include <QApplication>
#include <QProcess>
#include <QtTest>

#include <csignal>

using namespace WindowTest;

namespace
{
qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

int countIn(const QVector<qint64> &times, qint64 from, qint64 to)
{
    int n = 0;
    for (qint64 t : times) {
        if (t > from && t < to)
            ++n;
    }
    return n;
}

// A uniquely named copy of sleep, so that no other process on the machine
// carries its image name.
class WatchedChild
{
public:
    WatchedChild()
    {
        name = QStringLiteral("tovel3watch%1").arg(QCoreApplication::applicationPid());
        const QString path = dir.path() + QLatin1Char('/') + name;
        QFile::copy(QStringLiteral("/bin/sleep"), path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        process.start(path, {QStringLiteral("600")});
        process.waitForStarted();
    }
    ~WatchedChild()
    {
        ::kill(pid(), SIGCONT);
        process.kill();
        process.waitForFinished();
    }
    qint64 pid() const { return process.processId(); }

    QTemporaryDir dir;
    QString name;
    QProcess process;
};
} // namespace

class TestHeartbeatChecks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installMessageHandler(); }
    void init() { startCase(); }
    void cleanup() { verifyNoQmlProblems(); }

    void networkCheckGatesTheHeartbeat()
    {
        PingStandIn ping;
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::X2));
        writeSettings({{"ping/on", true}, {"ping/url", "127.0.0.1"}, {"logging/network", true}});
        QVERIFY(h.load());
        QVERIFY(Harness::control(h.page1, "urlCheckBox")->property("checked").toBool());
        QCOMPARE(Harness::control(h.page1, "urlField")->property("text").toString(),
                 QStringLiteral("127.0.0.1"));

        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= 2, 9000);
        QVERIFY(consoleCount("Ping 127.0.0.1") >= 2);
        QCOMPARE(consoleCount("restart timer"), 0);

        // Unreachable for three cycles: no heartbeat, one journal line.
        ping.setDown(true);
        const qint64 downAt = now();
        QTest::qWait(9500);
        ping.setDown(false);
        const qint64 upAt = now();
        QCOMPARE(h.journalCount("Network address 127.0.0.1 is unreachable"), 1);
        QCOMPARE(h.journalCount("Network access to 127.0.0.1 restored"), 0);
        QVERIFY(!h.root->property("network_ok").toBool());

        const int before = h.received("~U");
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") > before, 4500);
        QTRY_COMPARE_WITH_TIMEOUT(h.journalCount("Network access to 127.0.0.1 restored"), 1, 1000);
        QVERIFY(h.root->property("network_ok").toBool());
        QCOMPARE(h.journalCount("Network address 127.0.0.1 is unreachable"), 1);

        // Every heartbeat follows a probe that answered, and none came while
        // the probes failed.
        const auto runs = ping.runs();
        const QVector<qint64> beats = h.receivedTimes("~U");
        int failed = 0;
        for (const auto &run : runs)
            failed += run.second != 0 ? 1 : 0;
        QVERIFY2(failed >= 3, qPrintable(QString("%1 failed probes").arg(failed)));
        for (qint64 beat : beats) {
            int last = -1;
            for (int i = 0; i < runs.size() && runs[i].first <= beat; ++i)
                last = i;
            QVERIFY2(last >= 0 && runs[last].second == 0,
                     qPrintable(QString("heartbeat at %1 not preceded by a good probe").arg(beat)));
        }
        qint64 firstFailure = 0;
        for (const auto &run : runs) {
            if (run.second != 0 && run.first >= downAt) {
                firstFailure = run.first;
                break;
            }
        }
        QVERIFY(firstFailure > 0);
        QCOMPARE(countIn(beats, firstFailure, upAt), 0);
    }

    void processCheckGatesTheHeartbeat()
    {
        WatchedChild child;
        QVERIFY(child.pid() > 0);
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::X2));
        writeSettings({{"monitor", child.name}, {"monitoron", true}, {"logging/process", true}});
        QVERIFY(h.load());
        QVERIFY(Harness::control(h.page1, "monitorCheckBox")->property("checked").toBool());

        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= 2, 9000);
        const QString died = QStringLiteral("Process %1 died or is hanging").arg(child.name);
        const QString alive = QStringLiteral("Process %1 is running normally").arg(child.name);
        QCOMPARE(h.journalCount(died), 0);

        // Stopped right after a heartbeat, so no tick is under way.
        int beats = h.received("~U");
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") > beats, 4000);
        ::kill(child.pid(), SIGSTOP);
        const qint64 stoppedAt = now();
        QTest::qWait(7000);
        ::kill(child.pid(), SIGCONT);
        const qint64 continuedAt = now();
        QCOMPARE(countIn(h.receivedTimes("~U"), stoppedAt, continuedAt), 0);
        QCOMPARE(h.journalCount(died), 1);
        QVERIFY(!h.root->property("process_ok").toBool());

        beats = h.received("~U");
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") > beats, 4000);
        QTRY_COMPARE_WITH_TIMEOUT(h.journalCount(alive), 1, 1000);
        QCOMPARE(h.journalCount(died), 1);
        QVERIFY(h.root->property("process_ok").toBool());
    }

    void processIsNotCheckedWhileTheNetworkIsDown()
    {
        PingStandIn ping;
        ping.setDown(true);
        WatchedChild child;
        ::kill(child.pid(), SIGSTOP);
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::X2));
        writeSettings({{"ping/on", true},
                       {"ping/url", "127.0.0.1"},
                       {"monitor", child.name},
                       {"monitoron", true},
                       {"logging/network", true},
                       {"logging/process", true}});
        QVERIFY(h.load());
        const QString died = QStringLiteral("Process %1 died or is hanging").arg(child.name);

        QTRY_COMPARE_WITH_TIMEOUT(h.journalCount("Network address 127.0.0.1 is unreachable"), 1,
                                  5000);
        QTest::qWait(3200);
        QCOMPARE(h.journalCount(died), 0);
        QVERIFY(h.root->property("process_ok").toBool());

        // Network back, process still stopped: now the process fails.
        ping.setDown(false);
        QTRY_COMPARE_WITH_TIMEOUT(h.journalCount(died), 1, 4500);
        QCOMPARE(h.received("~U"), 0);

        // Both healthy: heartbeats again.
        ::kill(child.pid(), SIGCONT);
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= 1, 4500);
    }

    void processCheckWithoutANameDoesNotGate()
    {
        Harness h;
        QVERIFY(h.addBoard(BoardSimulator::X2));
        QVERIFY(h.load());
        QObject *box = Harness::control(h.page1, "monitorCheckBox");
        box->setProperty("checked", true);
        QCOMPARE(Harness::control(h.page1, "monitorField")->property("text").toString(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= 2, 8000);
        QVERIFY(consoleCount("restart timer") >= 2);
        QVERIFY(h.root->property("process_ok").toBool());
    }
};

TOVEL3_TEST_MAIN(TestHeartbeatChecks)
#include "tst_heartbeat_checks.moc"
