// The metrics file: its text (checked by promtool as the node exporter's
// parser would take it, with hostile names), when it is written, how it is
// replaced, what stops it, and that a writer killed at any moment never
// leaves half a file.

#include "monitor/metricswriter.h"
#include "support/testenvironment.h"
#include "support/testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(MetricsSnapshot)

namespace
{
MetricsSnapshot typical()
{
    MetricsSnapshot s;
    s.heartbeatsSent = 42;
    s.acksReceived = 41;
    s.lastHeartbeatMsecs = 1700000003000;
    s.lastAckMsecs = 1700000003120;
    s.network = {true, "127.0.0.1", true};
    s.process = {true, "nginx", false};
    s.model = "Ostrel X2";
    s.firmware = "3.1";
    s.port = "/dev/ttyACM0";
    s.connected = true;
    s.temperatureTenths = 235;
    s.startMsecs = 1699999900000;
    return s;
}

QByteArray processLine(const QByteArray &escapedTarget)
{
    return "tovel3_check_up{check=\"process\",target=\"" + escapedTarget + "\"} 0";
}

int warnings = 0;
void countWarnings(QtMsgType type, const QMessageLogContext &, const QString &)
{
    if (type == QtWarningMsg)
        ++warnings;
}

// Why the text is not a whole metrics file as the writer makes it, or nothing.
QString incomplete(const QByteArray &text)
{
    if (!text.endsWith('\n'))
        return "does not end with a newline";
    const QList<QByteArray> lines = text.trimmed().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("tovel3_") && !line.startsWith("# HELP tovel3_") &&
            !line.startsWith("# TYPE tovel3_"))
            return "stray line " + line.left(60);
    }
    if (!lines.last().startsWith("tovel3_start_time_seconds "))
        return "last line is " + lines.last().left(60);
    return QString();
}
} // namespace

class TestMetricsWriter : public QObject
{
    Q_OBJECT

private:
    // promtool's verdict on an exposition text: empty when accepted.
    QString promtoolRejects(const QByteArray &text)
    {
        QProcess promtool;
        promtool.setProcessChannelMode(QProcess::MergedChannels);
        promtool.start(m_promtool, {"check", "metrics"});
        promtool.write(text);
        promtool.closeWriteChannel();
        if (!promtool.waitForFinished(30000))
            return "promtool did not finish";
        const QString output = QString::fromUtf8(promtool.readAll());
        return promtool.exitCode() == 0 ? QString() : output.isEmpty() ? "rejected" : output;
    }

    QString m_promtool;

private slots:
    void initTestCase()
    {
        m_promtool = QStandardPaths::findExecutable("promtool");
        if (m_promtool.isEmpty())
            QFAIL("promtool is missing (Debian package prometheus; build.sh test installs it)");
    }

    void render_data()
    {
        QTest::addColumn<MetricsSnapshot>("snapshot");
        QTest::addColumn<QList<QByteArray>>("present");
        QTest::addColumn<QList<QByteArray>>("absent");

        QTest::newRow("typical")
            << typical()
            << QList<QByteArray>{"# TYPE tovel3_heartbeats_sent_total counter",
                                 "tovel3_heartbeats_sent_total 42",
                                 "# TYPE tovel3_acks_received_total counter",
                                 "tovel3_acks_received_total 41",
                                 "tovel3_last_heartbeat_timestamp_seconds 1700000003",
                                 "tovel3_last_ack_timestamp_seconds 1700000003.120",
                                 "tovel3_check_up{check=\"network\",target=\"127.0.0.1\"} 1",
                                 processLine("nginx"),
                                 "tovel3_board_info{model=\"Ostrel X2\",firmware=\"3.1\","
                                 "port=\"/dev/ttyACM0\"} 1",
                                 "tovel3_board_suspended 0",
                                 "tovel3_board_connected 1",
                                 "tovel3_board_temperature_celsius 23.5",
                                 "tovel3_start_time_seconds 1699999900"}
            << QList<QByteArray>{};

        MetricsSnapshot fresh;
        fresh.startMsecs = 1699999900001;
        QTest::newRow("fresh start, no board, checks off")
            << fresh
            << QList<QByteArray>{"tovel3_heartbeats_sent_total 0",
                                 "tovel3_last_heartbeat_timestamp_seconds 0",
                                 "tovel3_last_ack_timestamp_seconds 0",
                                 "tovel3_board_info{model=\"\",firmware=\"\",port=\"\"} 1",
                                 "tovel3_board_connected 0",
                                 "tovel3_start_time_seconds 1699999900.001"}
            << QList<QByteArray>{"tovel3_check_up", "tovel3_board_temperature_celsius"};

        MetricsSnapshot cold = typical();
        cold.network.enabled = false;
        cold.suspended = true;
        cold.temperatureTenths = -5;
        QTest::newRow("network check off, suspended, below zero")
            << cold
            << QList<QByteArray>{processLine("nginx"), "tovel3_board_suspended 1",
                                 "tovel3_board_temperature_celsius -0.5"}
            << QList<QByteArray>{"tovel3_check_up{check=\"network\""};

        MetricsSnapshot quoted = typical();
        quoted.process.target = "say \"hi\"\\ now\nrm -rf";
        quoted.port = "C:\\COM3";
        QTest::newRow("quote, backslash, newline")
            << quoted
            << QList<QByteArray>{processLine("say \\\"hi\\\"\\\\ now\\nrm -rf"),
                                 "port=\"C:\\\\COM3\"} 1"}
            << QList<QByteArray>{};

        MetricsSnapshot other = typical();
        other.process.target = QString::fromUtf8("процесс\r\tx");
        other.model = "";
        QTest::newRow("other control characters, Cyrillic")
            << other << QList<QByteArray>{processLine("процесс\r\tx"), "model=\"\",firmware"}
            << QList<QByteArray>{};

        MetricsSnapshot huge = typical();
        huge.process.target = QString(10240, '"');
        huge.network.target = QString("a\\b\"c\nd").repeated(1500);
        const QByteArray cutQuotes = QByteArray("\\\"").repeated(255) + "…";
        const QByteArray cutMix =
            QByteArray("a\\\\b\\\"c\\nd").repeated(36) + "a\\\\b…"; // 36 * 7 + 3 = 255
        QTest::newRow("10 KB names cut to 256 characters")
            << huge
            << QList<QByteArray>{processLine(cutQuotes),
                                 "tovel3_check_up{check=\"network\",target=\"" + cutMix + "\"} 1"}
            << QList<QByteArray>{};

        MetricsSnapshot emoji = typical();
        emoji.process.target = QString(254, 'a') + QString::fromUtf8("😀") + QString(20, 'b');
        QTest::newRow("cut never splits a character")
            << emoji << QList<QByteArray>{processLine(QByteArray(254, 'a') + "…")}
            << QList<QByteArray>{};
    }

    void render()
    {
        QFETCH(MetricsSnapshot, snapshot);
        QFETCH(QList<QByteArray>, present);
        QFETCH(QList<QByteArray>, absent);

        const QByteArray text = MetricsWriter::render(snapshot);
        const QList<QByteArray> lines = text.split('\n');
        for (const QByteArray &expected : present) {
            const bool found = std::any_of(lines.begin(), lines.end(), [&](const QByteArray &l) {
                return l == expected || (!expected.startsWith("tovel3_") && l.contains(expected));
            });
            QVERIFY2(found, expected.left(200).constData());
        }
        for (const QByteArray &unexpected : absent)
            QVERIFY2(!text.contains(unexpected), unexpected.constData());
        QCOMPARE(incomplete(text), QString());
        const QString verdict = promtoolRejects(text);
        QVERIFY2(verdict.isEmpty(), qPrintable(verdict));
    }

    void schedule_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<qint64>("later");
        QTest::addColumn<bool>("written");

        QTest::newRow("same values 59.999 s later") << "" << qint64(59999) << false;
        QTest::newRow("same values 60 s later") << "" << qint64(60000) << true;
        QTest::newRow("same values, clock set back") << "" << qint64(-1000) << true;
        QTest::newRow("a heartbeat 3 s later") << "heartbeat" << qint64(3000) << true;
        QTest::newRow("check target changed") << "target" << qint64(1) << true;
        QTest::newRow("temperature reported") << "temperature" << qint64(1) << true;
        QTest::newRow("board suspended") << "suspended" << qint64(1) << true;
    }

    void schedule()
    {
        QFETCH(QString, change);
        QFETCH(qint64, later);
        QFETCH(bool, written);

        QTemporaryDir dir;
        MetricsWriter writer;
        const qint64 t0 = 1700000000000;
        MetricsSnapshot s = typical();
        s.temperatureTenths.reset();
        QCOMPARE(writer.update(s, t0), MetricsWriter::Off);
        writer.setDirectory(dir.path());
        QCOMPARE(writer.update(s, t0), MetricsWriter::Written);
        QVERIFY(writer.waitForWritten());
        QCOMPARE(writer.update(s, t0 + 1), MetricsWriter::Unchanged);

        if (change == "heartbeat") {
            ++s.heartbeatsSent;
            s.lastHeartbeatMsecs += 3000;
        } else if (change == "target") {
            s.network.target = "127.0.0.2";
        } else if (change == "temperature") {
            s.temperatureTenths = 300;
        } else if (change == "suspended") {
            s.suspended = true;
        }
        QVERIFY(QFile::remove(writer.filePath()));
        QCOMPARE(writer.update(s, t0 + later),
                 written ? MetricsWriter::Written : MetricsWriter::Unchanged);
        QVERIFY(writer.waitForWritten());
        QCOMPARE(QFile::exists(writer.filePath()), written);
        if (written)
            QCOMPARE(TestFiles::contents(writer.filePath()), MetricsWriter::render(s));

        // Another directory gets the file at once.
        QTemporaryDir other;
        writer.setDirectory(other.path());
        QCOMPARE(writer.update(s, t0 + later + 1), MetricsWriter::Written);
        QVERIFY(writer.waitForWritten());
        QVERIFY(QFile::exists(QDir(other.path()).filePath("tovel3.prom")));
    }

    void replacesWholeFile()
    {
        QTemporaryDir dir;
        // A dead writer's leftover goes, a live one's stays.
        QProcess gone;
        gone.start("true", QStringList());
        QVERIFY(gone.waitForStarted());
        const qint64 deadPid = gone.processId();
        QVERIFY(gone.waitForFinished());
        const QString dead = QString("tovel3.prom.%1.tmp").arg(deadPid);
        const QString live = QString("tovel3.prom.%1.tmp").arg(getppid());
        QVERIFY(TestFiles::writeFile(dir.filePath(dead), "tovel3_heartb"));
        QVERIFY(TestFiles::writeFile(dir.filePath(live), "tovel3_heartb"));

        const mode_t oldMask = ::umask(077);
        MetricsWriter writer(dir.path());
        MetricsSnapshot first = typical();
        QCOMPARE(writer.update(first, 1700000000000), MetricsWriter::Written);
        QVERIFY(writer.waitForWritten());
        QFile reader(writer.filePath());
        QVERIFY(reader.open(QIODevice::ReadOnly));
        MetricsSnapshot second = first;
        second.heartbeatsSent = 1234567;
        QCOMPARE(writer.update(second, 1700000003000), MetricsWriter::Written);
        QVERIFY(writer.waitForWritten());
        ::umask(oldMask);

        // A reader that opened the file before keeps the old text whole.
        QCOMPARE(reader.readAll(), MetricsWriter::render(first));
        QCOMPARE(TestFiles::contents(writer.filePath()), MetricsWriter::render(second));
        QVERIFY(QFile::permissions(writer.filePath()) & QFileDevice::ReadOther);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System),
                 QStringList({"tovel3.prom", live}));
    }

    void obstacles_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<bool>("writes");

        QTest::newRow("directory missing") << "missing" << false;
        QTest::newRow("a file instead of the directory") << "file as directory" << false;
        QTest::newRow("a directory instead of the file") << "directory as file" << false;
        QTest::newRow("a pipe under the temporary name") << "pipe" << true;
        QTest::newRow("a link under the temporary name") << "link" << true;
    }

    void obstacles()
    {
        QFETCH(QString, obstacle);
        QFETCH(bool, writes);

        QTemporaryDir base;
        const QString dir = base.filePath("metrics");
        MetricsWriter writer(dir);
        const QString victim = base.filePath("victim");
        QVERIFY(TestFiles::writeFile(victim, "untouched"));
        if (obstacle != "missing")
            QVERIFY(obstacle == "file as directory" ? TestFiles::writeFile(dir, "x")
                                                    : QDir().mkpath(dir));
        if (obstacle == "directory as file")
            QVERIFY(QDir().mkpath(writer.filePath()));
        if (obstacle == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(writer.temporaryFilePath()), 0666), 0);
        if (obstacle == "link")
            QVERIFY(QFile::link(victim, writer.temporaryFilePath()));

        // The first failure is known once the writer thread tried; later
        // calls report it without another warning and try again.
        warnings = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countWarnings);
        QElapsedTimer clock;
        clock.start();
        MetricsSnapshot s = typical();
        QCOMPARE(writer.update(s, 1700000000000), MetricsWriter::Written);
        const bool firstWritten = writer.waitForWritten();
        ++s.heartbeatsSent;
        const MetricsWriter::Result second = writer.update(s, 1700000003000);
        const bool secondWritten = writer.waitForWritten();
        const qint64 took = clock.elapsed();
        qInstallMessageHandler(previous);

        // Below one wait's 5 s: nothing blocked, however loaded the machine.
        QVERIFY2(took < 4000, qPrintable(QString("two updates took %1 ms").arg(took)));
        QCOMPARE(TestFiles::contents(victim), QByteArray("untouched"));
        QCOMPARE(firstWritten, writes);
        QCOMPARE(secondWritten, writes);
        QCOMPARE(second, writes ? MetricsWriter::Written : MetricsWriter::Failed);
        QCOMPARE(warnings, writes ? 0 : 1);
        if (writes) {
            QCOMPARE(TestFiles::contents(writer.filePath()), MetricsWriter::render(s));
            return;
        }
        QVERIFY2(writer.errorString().contains(dir), qPrintable(writer.errorString()));

        // Once the way is clear the next call writes.
        if (obstacle == "directory as file")
            QVERIFY(QDir(writer.filePath()).removeRecursively());
        if (obstacle == "file as directory")
            QVERIFY(QFile::remove(dir));
        QVERIFY(QDir().mkpath(dir));
        QCOMPARE(writer.update(s, 1700000003001), MetricsWriter::Failed);
        QVERIFY(writer.waitForWritten());
        QCOMPARE(writer.errorString(), QString());
        QCOMPARE(TestFiles::contents(writer.filePath()), MetricsWriter::render(s));
    }

    void sigkillNeverLeavesPartialFile()
    {
        const QString feed = qEnvironmentVariable("TOVEL3_METRICSFEED");
        QVERIFY2(QFileInfo(feed).isExecutable(), "TOVEL3_METRICSFEED names no program");
        QTemporaryDir dir;
        const QString path = dir.filePath("tovel3.prom");
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);
        const QStringList args = {"--dir",      dir.path(),          "--loop",
                                  "--process",  QString(10240, '"'), "--network",
                                  "a\\b\"c\nd", "--temperature",     "-12"};
        QSet<QByteArray> seen;
        QByteArray previous;
        int reads = 0;
        int killedWhileWriting = 0;
        for (int round = 0; round < 20; ++round) {
            QProcess writer;
            writer.start(feed, args);
            QVERIFY(writer.waitForStarted());
            // Killed after it replaced the file a few times under our eyes, and
            // then at a random moment: a loaded machine slows the writer's
            // start and its pace, never what is counted here.
            const int replacements = random.bounded(1, 6);
            const int killAfter = random.bounded(0, 50);
            int fresh = 0;
            QElapsedTimer clock;
            clock.start();
            QElapsedTimer sinceFresh;
            while (fresh < replacements || sinceFresh.elapsed() < killAfter) {
                QVERIFY2(clock.elapsed() < 20000, "the writer wrote nothing");
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly)) {
                    QVERIFY2(previous.isEmpty(), "the file was missing for a moment");
                    continue;
                }
                const QByteArray text = file.readAll();
                const QString reason = incomplete(text);
                QVERIFY2(reason.isEmpty(), qPrintable(reason));
                ++reads;
                if (text != previous && ++fresh == replacements)
                    sinceFresh.start();
                previous = text;
                seen.insert(text);
            }
            QCOMPARE(::kill(pid_t(writer.processId()), SIGKILL), 0);
            QVERIFY(writer.waitForFinished());
            QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
            const QByteArray last = TestFiles::contents(path);
            QCOMPARE(incomplete(last), QString());
            if (!QDir(dir.path()).entryList({"*.tmp"}, QDir::Files).isEmpty())
                ++killedWhileWriting;
        }
        qInfo("%d reads saw %d different files; %d of 20 kills left a file half made", reads,
              int(seen.size()), killedWhileWriting);
        const QString verdict = promtoolRejects(TestFiles::contents(path));
        QVERIFY2(verdict.isEmpty(), qPrintable(verdict));
    }
};

TOVEL3_TEST_MAIN(TestMetricsWriter)
#include "tst_metricswriter.moc"
