// Runs on Windows too.
#include "monitor/pingprocess.h"
#include "support/pingstandin.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <memory>
#include <sys/types.h>

class PingProcessTest : public QObject
{
    Q_OBJECT

private:
    // The stand-in of each case, answering "0" with no output.
    std::unique_ptr<PingStandIn> m_ping;

    // Starts the probe with no tool to run and waits until its start has
    // failed; a finished() signal would follow at once.
    static bool failToStart(PingProcess &probe, const QString &address)
    {
        auto *runner = probe.findChild<QProcess *>();
        if (!runner)
            return false;
        QSignalSpy failed(runner, &QProcess::errorOccurred);
        probe.start(address);
        if (!QTest::qWaitFor([&] { return failed.count() > 0; }, 5000))
            return false;
        QTest::qWait(100);
        return failed.first().first().value<QProcess::ProcessError>() == QProcess::FailedToStart;
    }

    // Runs one probe to its end and returns how many finished() signals came.
    int runOnce(PingProcess &probe, const QString &address, int waitMs = 10000)
    {
        QSignalSpy spy(&probe, &PingProcess::finished);
        probe.start(address);
        if (!spy.wait(waitMs))
            return 0;
        QTest::qWait(100); // a duplicate signal would arrive here
        return spy.count();
    }

private slots:
    void init()
    {
#ifdef Q_OS_WIN
        if (qstrcmp(QTest::currentTestFunction(), "startsWithoutResult") != 0 &&
            qstrcmp(QTest::currentTestFunction(), "windowsReply") != 0)
            QSKIP("iputils ping: its arguments, a shell-script stand-in, signals, /proc");
#else
        m_ping = std::make_unique<PingStandIn>();
        QVERIFY(m_ping->installed());
        m_ping->setReply("", "", 0);
#endif
    }

    void cleanup() { m_ping.reset(); }

    void startsWithoutResult()
    {
        PingProcess probe;
        QCOMPARE(probe.exitCode(), 255);
        QCOMPARE(probe.output(), QStringLiteral("Not Running"));
        QCOMPARE(probe.timeout(), 1000);
        // QML reads and writes the timeout as a property
        QVERIFY(probe.setProperty("timeout", 321));
        QCOMPARE(probe.timeout(), 321);
        QCOMPARE(probe.property("timeout").toInt(), 321);
    }

    void realPingOfLoopback_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("timeout");
        QTest::newRow("loopback, 1 s") << "127.0.0.1" << 1000;
        QTest::newRow("shortest wait") << "127.0.0.1" << 200;
        QTest::newRow("fractional wait") << "127.0.0.1" << 1010;
        QTest::newRow("longest slider wait") << "127.0.0.1" << 2500;
    }

    void realPingOfLoopback()
    {
        QFETCH(QString, address);
        QFETCH(int, timeout);
        m_ping.reset(); // the real tool
        PingProcess probe;
        probe.setTimeout(timeout);
        QCOMPARE(runOnce(probe, address), 1);
        QCOMPARE(probe.exitCode(), 0);
        QVERIFY2(probe.output().contains("127.0.0.1"), qPrintable(probe.output()));
        QVERIFY2(probe.output().contains("1 received"), qPrintable(probe.output()));
        // nothing on standard error: the output ends with the lone separator
        QVERIFY(probe.output().endsWith("\n\n"));
        QCOMPARE(probe.timeout(), timeout);
    }

    void passesOneRequestAndAValidWait_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<QString>("wait");
        QTest::addColumn<QString>("target");
        const auto row = [](const char *name, const char *address, int timeout, const char *wait,
                            const char *target) {
            QTest::newRow(name) << QString(address) << timeout << QString(wait) << QString(target);
        };
        row("empty address", "", 1000, "1", "127.0.0.1");
        row("zero timeout", "127.0.0.1", 0, "0.2", "127.0.0.1");
        row("negative timeout", "127.0.0.1", -50, "0.2", "127.0.0.1");
        row("just below floor", "127.0.0.1", 199, "0.2", "127.0.0.1");
        row("floor", "127.0.0.1", 200, "0.2", "127.0.0.1");
        row("odd milliseconds", "127.0.0.1", 201, "0.201", "127.0.0.1");
        row("slider step", "127.0.0.1", 1010, "1.01", "127.0.0.1");
        row("slider end", "127.0.0.1", 2500, "2.5", "127.0.0.1");
        row("host name", "localhost", 1000, "1", "localhost");
        row("option-like address stays a target", "-V", 1000, "1", "-V");
        row("spaces stay in one argument", "127.0.0.1 -c 9", 1000, "1", "127.0.0.1 -c 9");
    }

    void passesOneRequestAndAValidWait()
    {
        QFETCH(QString, address);
        QFETCH(int, timeout);
        QFETCH(QString, wait);
        QFETCH(QString, target);
        PingProcess probe;
        probe.setTimeout(timeout);
        QCOMPARE(runOnce(probe, address), 1);
        QCOMPARE(probe.exitCode(), 0);
        const QStringList expected = {"-n", "-c", "1", "-W", wait, "--", target};
        QCOMPARE(m_ping->arguments(), expected);
        QCOMPARE(probe.timeout(), timeout);
    }

    void joinsOutputAndPassesExitCode_data()
    {
        QTest::addColumn<QByteArray>("out"); // as printf takes it
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");
        const auto row = [](const char *name, const char *out, const char *err, int code,
                            const QString &output) {
            QTest::newRow(name) << QByteArray(out) << QByteArray(err) << code << output;
        };
        row("reply", "out", "err", 0, "out\nerr");
        row("no reply", "1 packets transmitted, 0 received\\n", "", 1,
            "1 packets transmitted, 0 received\n\n");
        row("unknown name", "", "ping: x: unknown\\n", 2, "\nping: x: unknown\n");
        row("nothing at all", "", "", 0, "\n");
        row("stops at NUL", "ab\\0cd", "err", 0, "ab");
        row("UTF-8", "\xd0\xbe\xd0\xba", "", 0, QString::fromUtf8("\xd0\xbe\xd0\xba\n"));
    }

    void joinsOutputAndPassesExitCode()
    {
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(int, code);
        QFETCH(QString, output);
        m_ping->setReply(out, err, code);
        PingProcess probe;
        QCOMPARE(runOnce(probe, "127.0.0.1"), 1);
        QCOMPARE(probe.output(), output);
        QCOMPARE(probe.exitCode(), code);
    }

    void startWhileBusyKillsTheRun()
    {
        m_ping->setSlow("30");
        PingProcess probe;
        QSignalSpy spy(&probe, &PingProcess::finished);
        QElapsedTimer clock;
        clock.start();
        probe.start("127.0.0.1");
        QVERIFY(clock.elapsed() < 1000); // returns at once
        QCOMPARE(spy.count(), 0);
        QTRY_VERIFY(m_ping->pid() > 0);
        QTest::qWait(100);
        QCOMPARE(spy.count(), 0); // still running

        probe.start("127.0.0.1"); // kills, starts nothing
        QVERIFY(spy.wait(5000));
        QTest::qWait(300);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(probe.exitCode(), 255);
        QCOMPARE(probe.output(), QStringLiteral("Crashed"));
        QVERIFY(clock.elapsed() < 10000);

        // the next start runs afresh
        m_ping->setSlow({});
        m_ping->setReply("fresh", "", 0);
        QCOMPARE(runOnce(probe, "127.0.0.2"), 1);
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(probe.output(), QStringLiteral("fresh\n"));
        QCOMPARE(m_ping->arguments().value(6), QStringLiteral("127.0.0.2"));
    }

    // The tool may end with success just before a new cycle's start() kills
    // it, while its end is not yet delivered: a run stopped that way proves
    // nothing about the network and must not let a heartbeat through.
    void startAfterAnUndeliveredSuccessReportsFailure()
    {
        PingProcess probe;
        QSignalSpy spy(&probe, &PingProcess::finished);
        probe.start("127.0.0.1");
        // Wait without the event loop until the tool has ended.
        QElapsedTimer clock;
        clock.start();
        bool ended = false;
        while (!ended && clock.elapsed() < 5000) {
            QThread::msleep(20);
            const qint64 pid = m_ping->pid();
            if (pid <= 0)
                continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            ended = !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
        }
        QVERIFY(ended);
        QCOMPARE(spy.count(), 0);

        probe.start("127.0.0.1"); // still busy as far as the probe knows: kills
        QVERIFY(spy.wait(5000));
        QTest::qWait(200);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(probe.exitCode(), 255);

        // The kill is not remembered beyond its own run.
        QCOMPARE(runOnce(probe, "127.0.0.1"), 1);
        QCOMPARE(probe.exitCode(), 0);
    }

    void crashOfTheToolIsReported()
    {
        m_ping->setSlow("30");
        m_ping->setReply("partial", "", 0);
        PingProcess probe;
        QSignalSpy spy(&probe, &PingProcess::finished);
        probe.start("127.0.0.1");
        QTRY_VERIFY(m_ping->pid() > 0);
#ifndef Q_OS_WIN
        ::kill(pid_t(m_ping->pid()), SIGSEGV);
#endif
        QVERIFY(spy.wait(5000));
        QTest::qWait(200);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(probe.exitCode(), 255);
        QCOMPARE(probe.output(), QStringLiteral("Crashed"));
    }

    void missingToolReportsNothing()
    {
        // Before any run the initial values stay, after one its results.
        m_ping->setHidden(true);
        PingProcess probe;
        QSignalSpy spy(&probe, &PingProcess::finished);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ping could not be started"));
        QVERIFY(failToStart(probe, ""));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(probe.exitCode(), 255);
        QCOMPARE(probe.output(), QStringLiteral("Not Running"));

        m_ping->setHidden(false);
        m_ping->setReply("earlier", "", 1);
        QCOMPARE(runOnce(probe, "127.0.0.1"), 1);
        QCOMPARE(probe.exitCode(), 1);

        m_ping->setHidden(true);
        spy.clear();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ping could not be started"));
        QVERIFY(failToStart(probe, "127.0.0.1"));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(probe.exitCode(), 1);
        QCOMPARE(probe.output(), QStringLiteral("earlier\n"));

        // the probe is not left busy: with the tool back, the next start runs
        m_ping->setHidden(false);
        m_ping->setReply("", "", 0);
        QCOMPARE(runOnce(probe, "127.0.0.1"), 1);
        QCOMPARE(probe.exitCode(), 0);
    }

    // Every cycle starts the tool anew; a missing tool is worth one warning
    // per outage, not one every few seconds for as long as the machine runs.
    void missingToolIsWarnedAboutOncePerOutage()
    {
        static int warnings = 0;
        warnings = 0;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &, const QString &msg) {
                if (type == QtWarningMsg && msg.contains("ping could not be started"))
                    ++warnings;
            });
        PingProcess probe;
        m_ping->setHidden(true);
        bool failed = true;
        for (int i = 0; i < 3; ++i)
            failed = failToStart(probe, "127.0.0.1") && failed;
        const int firstOutage = warnings;

        m_ping->setHidden(false);
        const int runs = runOnce(probe, "127.0.0.1");
        m_ping->setHidden(true);
        failed = failToStart(probe, "127.0.0.1") && failed;
        qInstallMessageHandler(previous);

        QVERIFY(failed);
        QCOMPARE(firstOutage, 1);
        QCOMPARE(runs, 1);
        QCOMPARE(warnings, 2); // warned again after the tool had worked
    }

    // Windows' ping exits with 0 for a router's error message and a timeout
    // too. The stand-in (see windows/ping.cpp), as ping.exe in the current
    // directory, is found before system32's.
    void windowsReply_data()
    {
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<int>("toolCode");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("code");
        const QByteArray reply = "Reply from 10.9.0.2: bytes=32 time<1ms TTL=64\r\n";
        QTest::newRow("reply") << reply << 0 << "10.9.0.2" << 1000 << "-n|1|-w|1000|10.9.0.2" << 0;
        QTest::newRow("unreachable")
            << QByteArray("Reply from 10.9.0.1: Destination host unreachable.\r\n") << 0
            << "10.9.0.2" << 1000 << "-n|1|-w|1000|10.9.0.2" << 1;
        QTest::newRow("timed out") << QByteArray("Request timed out.\r\n") << 0 << "10.9.0.2"
                                   << 2500 << "-n|1|-w|2500|10.9.0.2" << 1;
        QTest::newRow("exit 1") << reply << 1 << "10.9.0.2" << 1010 << "-n|1|-w|1010|10.9.0.2" << 1;
        QTest::newRow("empty address, below the floor")
            << reply << 0 << "" << 0 << "-n|1|-w|200|127.0.0.1" << 0;
        QTest::newRow("option-like address is not run") << reply << 0 << "/?" << 1000 << "" << 1;
    }

    void windowsReply()
    {
#ifndef Q_OS_WIN
        QSKIP("Windows' ping");
#else
        QFETCH(QByteArray, out);
        QFETCH(int, toolCode);
        QFETCH(QString, address);
        QFETCH(int, timeout);
        QFETCH(QString, arguments);
        QFETCH(int, code);
        QTemporaryDir tmp;
        const QDir dir(tmp.path());
        QVERIFY(QFile::copy(qEnvironmentVariable("TOVEL3_PING"), dir.filePath("ping.exe")));
        QFile outFile(dir.filePath("ping.out"));
        QVERIFY(outFile.open(QIODevice::WriteOnly));
        outFile.write(out);
        outFile.close();
        QFile codeFile(dir.filePath("ping.code"));
        QVERIFY(codeFile.open(QIODevice::WriteOnly));
        codeFile.write(QByteArray::number(toolCode));
        codeFile.close();
        const QString current = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        PingProcess probe;
        probe.setTimeout(timeout);
        const int runs = runOnce(probe, address);
        QDir::setCurrent(current);
        QCOMPARE(runs, 1);
        QCOMPARE(probe.exitCode(), code);
        QFile args(dir.filePath("ping.args"));
        QCOMPARE(args.open(QIODevice::ReadOnly) ? QString::fromLatin1(args.readAll()) : QString(),
                 arguments);
#endif
    }

    void destructionEndsARunningTool()
    {
        m_ping->setSlow("30");
        auto *probe = new PingProcess;
        probe->start("127.0.0.1");
        QTRY_VERIFY(m_ping->pid() > 0);
        const QByteArray pid = QByteArray::number(m_ping->pid());
        QVERIFY(QFile::exists("/proc/" + pid));
        QElapsedTimer clock;
        clock.start();
        delete probe;
        QVERIFY(clock.elapsed() < 2500);
        QVERIFY(!QFile::exists("/proc/" + pid)); // killed and reaped
    }
};

TOVEL3_TEST_MAIN(PingProcessTest)
#include "tst_pingprocess.moc"
