// Board against the simulated boards on pseudo-terminals: commands and their
// journal entries, channel, switch, settings and identity replies, the write
// confirmation, compatibility mode, the identification rules, split and
// merged replies, noise, and finding a board that came back under another
// port name.

#include "board.h"
#include "boardsimulator.h"
#include "journal.h"
#include "testenvironment.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace BoardProtocol;

namespace
{
QStringList &console()
{
    static QStringList lines;
    return lines;
}

QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (type == QtInfoMsg || type == QtDebugMsg) {
        console() << msg;
        if (qEnvironmentVariableIsEmpty("TOVEL3_TEST_VERBOSE"))
            return;
    }
    previousHandler(type, context, msg);
}

int consoleCount(const QString &text)
{
    return console().count(text);
}

int consoleStarting(const QString &prefix)
{
    int n = 0;
    for (const QString &line : console())
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void setExtraPorts(const QStringList &ports)
{
    qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(ports.join(QLatin1Char(':'))));
}

// One simulated board, the Board on its port and a journal file.
struct Rig {
    explicit Rig(BoardSimulator::Model model = BoardSimulator::X2)
        : sim(model)
    {
        journal.setLogFile(dir.path() + QStringLiteral("/tovel3.log"));
        journal.setPaused(false);
        started = sim.start(dir.path() + QStringLiteral("/board"));
        setExtraPorts({sim.portPath()});
        console().clear();
    }
    ~Rig() { qunsetenv("TOVEL3_EXTRA_PORTS"); }

    // Selected and identified through the real handshake.
    bool identify()
    {
        board.setPort(sim.portPath());
        if (!board.sendHeartbeat())
            return false;
        const QString letter(QLatin1Char(sim.typeLetter()));
        return QTest::qWaitFor([&] { return board.modelLetter() == letter; }, 2000);
    }

    // Bytes from the board, as if it sent them now; true once they arrived.
    bool deliver(const QByteArray &bytes)
    {
        QSignalSpy arrived(&board, &Board::replyReceived);
        sim.sendRaw(bytes);
        return arrived.wait(1000);
    }

    int received(const QByteArray &text) const { return sim.receivedTexts().count(text); }

    int journalCount(const QString &text) const
    {
        QFile f(journal.getLogFile());
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        int n = 0;
        for (const QString &line : QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n")))
            n += line.endsWith(QLatin1Char(' ') + text) ? 1 : 0;
        return n;
    }

    QTemporaryDir dir;
    Journal journal;
    BoardSimulator sim;
    Board board{&journal};
    bool started = false;
};

// Random and mutated replies for the noise test.
class Mutator
{
public:
    explicit Mutator(quint32 seed)
        : m_rng(seed)
    {
    }

    QByteArray next()
    {
        static const QList<QByteArray> corpus = {
            "~A",  "~F5242512A37d", "~F52",   "~F123",  "~I3.1U", "~I2.7L", "~I",
            "~I3", "~GI001",        "~G0235", "~G-055", "~GE000", "~Gxyzw", "~S1",
            "~S2", "~R1",           "~R2",    "~L0",    "~L1",    "~P0",    "~P1",
            "~T1", "~M2",           "~D",     "~",      "~W5242", "~R9",    "~I12345678U"};
        static const QByteArray alphabet("~AFLPIGSRUWTMD0123456789abcdef\n\r \x01\x7f\x80\xff", 42);
        auto pick = [&] { return corpus[m_rng.bounded(corpus.size())]; };
        auto byte = [&] { return alphabet[m_rng.bounded(alphabet.size())]; };
        QByteArray b;
        switch (m_rng.bounded(5)) {
        case 0:
            return pick() + "\n";
        case 1: // mutated
            b = pick();
            b[m_rng.bounded(b.size())] = byte();
            return b + (m_rng.bounded(2) ? "\n" : "");
        case 2: // cut short
            b = pick();
            return b.left(m_rng.bounded(b.size() + 1));
        case 3: // several, with odd separators
            for (int n = 1 + m_rng.bounded(5); n > 0; --n)
                b += pick() + QList<QByteArray>{"\n", "\r\n", "", "\n\n"}[m_rng.bounded(4)];
            return b;
        default: // bytes
            for (int n = 1 + m_rng.bounded(40); n > 0; --n)
                b += byte();
            return b;
        }
    }

private:
    QRandomGenerator m_rng;
};
} // namespace

class TestBoard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(collect); }

    void commandsAreWrittenAndJournaled_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("command"); // empty: nothing is sent
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("answerRead"); // the port stays open for the answer

        const int x2 = BoardSimulator::X2;
        const int s2 = BoardSimulator::S2;
        QTest::newRow("test reset")
            << x2 << "testReset" << QByteArray("~T1") << "Reset requested" << true;
        QTest::newRow("test power")
            << x2 << "testPower" << QByteArray("~T2") << "Hard reset requested" << false;
        QTest::newRow("remote reset")
            << x2 << "remoteReset" << QByteArray("~M1") << "Remote reset reqested" << true;
        QTest::newRow("remote power")
            << x2 << "remotePower" << QByteArray("~M2") << "Remote hard reset requested" << true;
        QTest::newRow("close 1") << x2 << "close1" << QByteArray("~S1")
                                 << "Requested channel 1 close" << true;
        QTest::newRow("close 2") << x2 << "close2" << QByteArray("~S2")
                                 << "Requested channel 2 close" << true;
        QTest::newRow("open 1") << x2 << "open1" << QByteArray("~R1") << "Requested channel 1 open"
                                << true;
        QTest::newRow("open 2") << x2 << "open2" << QByteArray("~R2") << "Requested channel 2 open"
                                << true;
        QTest::newRow("firmware update")
            << x2 << "firmwareUpdate" << QByteArray("~D") << "" << false;
        QTest::newRow("led") << x2 << "ledOff" << QByteArray("~L0") << "" << true;
        QTest::newRow("suspend") << x2 << "suspend" << QByteArray("~P1") << "" << true;
        QTest::newRow("read settings") << x2 << "readSettings" << QByteArray("~F") << "" << true;
        QTest::newRow("S2 remote reset")
            << s2 << "remoteReset" << QByteArray("~T1") << "Reset requested" << true;
        QTest::newRow("S2 has no remote power")
            << s2 << "remotePower" << QByteArray() << "" << false;
    }

    void commandsAreWrittenAndJournaled()
    {
        QFETCH(int, model);
        QFETCH(QString, action);
        QFETCH(QByteArray, command);
        QFETCH(QString, entry);
        QFETCH(bool, answerRead);

        Rig rig{BoardSimulator::Model(model)};
        QVERIFY(rig.started);
        QVERIFY(rig.identify());
        QTest::qWait(50); // the handshake's answers are in
        const int before = rig.sim.receivedTexts().size();
        QSignalSpy exchanges(&rig.board, &Board::exchangeStarted);
        console().clear();

        Board &b = rig.board;
        const QMap<QString, std::function<void()>> actions = {
            {"testReset", [&] { b.testReset(); }},
            {"testPower", [&] { b.testPower(); }},
            {"remoteReset", [&] { b.remoteReset(); }},
            {"remotePower", [&] { b.remotePower(); }},
            {"close1", [&] { b.setChannel(1, true); }},
            {"close2", [&] { b.setChannel(2, true); }},
            {"open1", [&] { b.setChannel(1, false); }},
            {"open2", [&] { b.setChannel(2, false); }},
            {"firmwareUpdate", [&] { b.firmwareUpdate(); }},
            {"ledOff", [&] { b.setLed(false); }},
            {"suspend", [&] { b.setSuspended(true); }},
            {"readSettings", [&] { b.readSettings(); }},
        };
        actions.value(action)();

        QCOMPARE(rig.journalCount(entry), entry.isEmpty() ? 0 : 1);
        if (command.isEmpty()) {
            QTest::qWait(200);
            QCOMPARE(rig.sim.receivedTexts().size(), before);
            QCOMPARE(exchanges.count(), 0);
            return;
        }
        QCOMPARE(exchanges.count(), 1);
        QCOMPARE(consoleCount(">>" + QString::fromLatin1(command)), 1);
        if (answerRead) {
            QTRY_VERIFY_WITH_TIMEOUT(consoleStarting("<<" + QString::fromLatin1(command)) == 1,
                                     1000);
        } else {
            QTest::qWait(300);
            QCOMPARE(consoleStarting("<<"), 0);
            rig.board.sendHeartbeat(); // opens the port again
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.received(command), 1, 1000);
        QCOMPARE(rig.sim.receivedTexts().at(before), command);
    }

    void failedPortStillJournals()
    {
        Rig rig;
        QVERIFY(rig.started);
        rig.board.setPort(rig.sim.portPath());
        rig.sim.unplug();
        QSignalSpy exchanges(&rig.board, &Board::exchangeStarted);
        console().clear();
        rig.board.testPower();
        QCOMPARE(rig.journalCount("Hard reset requested"), 1);
        QCOMPARE(consoleCount("!!Cannot write to "), 1);
        QCOMPARE(exchanges.count(), 1);
        // The heartbeat does not count as an exchange and forgets the board.
        QVERIFY(!rig.board.sendHeartbeat());
        QCOMPARE(exchanges.count(), 1);
        QCOMPARE(rig.board.modelLetter(), QString());
    }

    void channelRepliesThatAgreeAndContradict()
    {
        Rig rig;
        QVERIFY(rig.started);
        rig.board.setPort(rig.sim.portPath());
        rig.sim.setSilent(true);
        QSignalSpy changes(&rig.board, &Board::channelStateChanged);

        // The board's word is its state: a reply that contradicts the last
        // command flips it and sends nothing back.
        QVERIFY(rig.deliver("~S1\n"));
        QVERIFY(rig.board.channel1Closed());
        QCOMPARE(changes.count(), 1);
        QVERIFY(rig.deliver("~S1\n~R2\n"));
        QVERIFY(rig.deliver("~S3\n~R0\n~S\n"));
        QCOMPARE(changes.count(), 1);
        QVERIFY(rig.deliver("~R1\n~S2\n"));
        QVERIFY(!rig.board.channel1Closed());
        QVERIFY(rig.board.channel2Closed());
        QTest::qWait(100);
        QCOMPARE(rig.sim.receivedTexts(), QList<QByteArray>{});
        QCOMPARE(rig.journalCount("Requested channel 1 open"), 0);
    }

    void switchRepliesNeverAnswerBack()
    {
        Rig rig;
        QVERIFY(rig.started);
        rig.board.setPort(rig.sim.portPath());
        rig.sim.setSilent(true);
        QVERIFY(rig.board.led() && !rig.board.isSuspended());
        QVERIFY(rig.deliver("~L0\n"));
        QVERIFY(!rig.board.led());
        QVERIFY(rig.deliver("~L1\n~P1\n"));
        QVERIFY(rig.board.led());
        QVERIFY(rig.board.isSuspended());
        QVERIFY(rig.deliver("~P0"));
        QTRY_VERIFY(!rig.board.isSuspended()); // no "\n": taken after the quiet time
        QVERIFY(rig.deliver("~A\n~GI001\n"));
        QCOMPARE(rig.board.inputKind(), int(InputReading::Input));
        QCOMPARE(rig.board.inputLevel(), QStringLiteral("1"));
        QTest::qWait(50);
        QVERIFY(rig.sim.receivedTexts().isEmpty());
    }

    void heartbeatFollowsTheModel_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("readsInput");

        QTest::newRow("X2") << int(BoardSimulator::X2) << "Ostrel X2"
                            << "3.1" << 2 << true;
        QTest::newRow("S2") << int(BoardSimulator::S2) << "Ostrel S2"
                            << "2.7" << 1 << false;
    }

    void heartbeatFollowsTheModel()
    {
        QFETCH(int, model);
        QFETCH(QString, name);
        QFETCH(QString, firmware);
        QFETCH(int, channels);
        QFETCH(bool, readsInput);

        Rig rig{BoardSimulator::Model(model)};
        QVERIFY(rig.started);
        QSignalSpy connected(&rig.board, &Board::connectedChanged);
        QVERIFY(rig.identify());
        // Unidentified, the heartbeat is the plain one; the handshake with
        // the default switches answers its acknowledgement.
        QCOMPARE(rig.sim.receivedTexts().mid(0, 4), (QList<QByteArray>{"~U", "~L1", "~P0", "~I"}));
        QCOMPARE(rig.board.model(), name);
        QCOMPARE(rig.board.firmware(), firmware);
        QCOMPARE(rig.board.channels(), channels);
        QCOMPARE(rig.board.hasInput(), readsInput);
        QCOMPARE(rig.board.hasPowerOutput(), readsInput);
        QVERIFY(rig.board.isConnected());
        QCOMPARE(connected.count(), 1);
        QCOMPARE(rig.journalCount(name + " v" + firmware + rig.sim.typeLetter() + " connected"), 1);

        QVERIFY(rig.board.sendHeartbeat());
        QTRY_COMPARE(rig.received("~U"), 2);
        QTest::qWait(100);
        QCOMPARE(rig.received("~G"), readsInput ? 1 : 0);
        if (readsInput) {
            QCOMPARE(rig.board.inputKind(), int(InputReading::Temperature));
            QCOMPARE(rig.board.temperatureTenths(), 235);
        }
    }

    // An X2's reading must not stay on show beside the one-channel board
    // plugged in after it: "n/a" from the port change on.
    void readingOfThePreviousBoardIsDropped()
    {
        Rig rig;
        QVERIFY(rig.started);
        QVERIFY(rig.identify());
        QVERIFY(rig.board.sendHeartbeat());
        QTRY_COMPARE(rig.board.inputKind(), int(InputReading::Temperature));

        BoardSimulator s2(BoardSimulator::S2);
        QVERIFY(s2.start(rig.dir.path() + QStringLiteral("/s2")));
        setExtraPorts({rig.sim.portPath(), s2.portPath()});
        rig.board.setPort(s2.portPath());
        QCOMPARE(rig.board.inputKind(), int(InputReading::None));
        QCOMPARE(rig.board.firmware(), QString());
        QCOMPARE(rig.board.channels(), 0);
        QVERIFY(rig.board.sendHeartbeat());
        QTRY_COMPARE(rig.board.model(), QString("Ostrel S2"));
        QCOMPARE(rig.board.channels(), 1);
        QCOMPARE(rig.board.inputKind(), int(InputReading::None));
    }

    void settingsReadAndWriteConfirmation()
    {
        Rig rig;
        QVERIFY(rig.started);
        QVERIFY(rig.sim.setSettings("5242512A37d"));
        rig.board.setPort(rig.sim.portPath());
        const int timeout = 300; // 800 ms in the program
        rig.board.setWriteTimeout(timeout);
        QSignalSpy read(&rig.board, &Board::settingsRead);
        QSignalSpy confirmed(&rig.board, &Board::writeConfirmed);
        QSignalSpy failed(&rig.board, &Board::writeFailed);

        rig.board.readSettings();
        QVERIFY(read.wait(1000));
        BoardSettings s = rig.board.settings();
        QCOMPARE(s.form, BoardSettings::Long);
        QCOMPARE(rig.board.settingsValues(), (QVariantList{5, 2, 4, 2, 5, 1, 2, 10, 3, 125}));

        // Written back with t1 = 10 minutes; the board answers with its
        // settings, which confirms the write: "OK" for the write timeout.
        s.t1 = 10;
        const qint64 writtenAt = now();
        rig.board.writeSettings(s);
        QVERIFY(rig.board.writePending());
        QTRY_COMPARE(confirmed.count(), 1);
        QCOMPARE(rig.received("~WA242512A37d"), 1);
        QCOMPARE(rig.board.writeResult(), int(Board::WriteOk));
        QVERIFY(!rig.board.writePending());
        QTRY_COMPARE_WITH_TIMEOUT(rig.board.writeResult(), int(Board::WriteIdle), 1500);
        QVERIFY(now() - writtenAt >= timeout - 50);

        // The short form keeps the threshold; another length is no settings.
        QVERIFY(rig.deliver("~F7F\n"));
        QCOMPARE(rig.board.settingsValues(), (QVariantList{7, 15, -1, -1, -1, 1, -1, -1, -1, 125}));
        QCOMPARE(rig.board.settingsForm(), int(BoardSettings::Short));
        QVERIFY(rig.deliver("~F123\n"));
        QCOMPARE(rig.board.settingsForm(), int(BoardSettings::Invalid));
        QCOMPARE(consoleCount("Unknown settings"), 1);

        // No answer: "Failed" one timeout after the write, for as long; an
        // invalid settings reply does not confirm.
        rig.sim.setSilent(true);
        const qint64 silentAt = now();
        rig.board.writeSettings(s);
        QVERIFY(rig.deliver("~F1234\n"));
        QVERIFY(failed.wait(1500));
        const qint64 failedAfter = now() - silentAt;
        QVERIFY2(failedAfter >= timeout - 50 && failedAfter <= timeout + 500,
                 qPrintable(QString::number(failedAfter)));
        QCOMPARE(rig.board.writeResult(), int(Board::WriteFailed));
        QTRY_COMPARE_WITH_TIMEOUT(rig.board.writeResult(), int(Board::WriteIdle), 1500);
        QVERIFY(now() - silentAt >= 2 * timeout - 50);
        QCOMPARE(confirmed.count(), 1);
    }

    void oneChannelBoardReadsAndWritesTwoFields()
    {
        Rig rig(BoardSimulator::S2);
        QVERIFY(rig.started);
        rig.board.setPort(rig.sim.portPath());
        QSignalSpy read(&rig.board, &Board::settingsRead);
        rig.board.readSettings();
        QVERIFY(read.wait(1000));
        BoardSettings s = rig.board.settings();
        QCOMPARE(s.form, BoardSettings::Short);
        s.t2 = 15;
        QSignalSpy confirmed(&rig.board, &Board::writeConfirmed);
        rig.board.writeSettings(s);
        QVERIFY(confirmed.wait(1000));
        QCOMPARE(rig.received("~W5F"), 1);
        QCOMPARE(rig.sim.settings(), QByteArray("5F"));
    }

    void oldBoardInCompatibilityMode()
    {
        Rig rig(BoardSimulator::LegacyS);
        QVERIFY(rig.started);
        rig.board.setWriteTimeout(300);
        rig.board.setCompatibilityMode(true);
        rig.board.setCompatibilityT1(12);
        // A port change writes t1 as one digit, then asks the identity,
        // which announces the board before any heartbeat.
        rig.board.setPort(rig.sim.portPath());
        QTRY_COMPARE(rig.received("~W9\n"), 1);
        QCOMPARE(rig.sim.t1(), 9);
        QTRY_COMPARE(rig.board.modelLetter(), QStringLiteral("L"));
        QCOMPARE(rig.journalCount("Ostrel S2 v2.2L connected"), 1);

        // Settings are never read; a write stores t1 and awaits nothing.
        rig.board.readSettings();
        QSignalSpy t1(&rig.board, &Board::compatibilityT1Changed);
        QSignalSpy failed(&rig.board, &Board::writeFailed);
        BoardSettings s = rig.board.settings();
        s.t1 = 3;
        rig.board.writeSettings(s);
        QCOMPARE(t1.count(), 1);
        QCOMPARE(rig.board.compatibilityT1(), 3);
        QVERIFY(!rig.board.writePending());
        QTRY_COMPARE(rig.received("~W3\n"), 1);
        QCOMPARE(rig.sim.t1(), 3);
        QTest::qWait(rig.board.writeTimeout() + 100);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(rig.received("~F"), 0);

        // Another port announces the board found there.
        BoardSimulator second(BoardSimulator::LegacyS);
        QVERIFY(second.start(rig.dir.path() + QStringLiteral("/second")));
        rig.board.setPort(second.portPath());
        QTRY_COMPARE(rig.journalCount("Ostrel S2 v2.2L connected"), 2);
    }

    // The handshake carries "~P": it answers only the acknowledgement of a
    // heartbeat not yet answered, once.
    void handshakeOnlyAnswersAHeartbeat()
    {
        Rig rig;
        QVERIFY(rig.started);
        rig.board.setSwitchDefaults(false, true);
        rig.board.setPort(rig.sim.portPath());
        rig.sim.setSilent(true);
        QSignalSpy acks(&rig.board, &Board::acknowledged);

        QVERIFY(rig.deliver("~A\n"));
        QCOMPARE(acks.count(), 1);
        QTest::qWait(100);
        QVERIFY(rig.sim.receivedTexts().isEmpty());

        QVERIFY(rig.board.sendHeartbeat());
        QVERIFY(rig.deliver("~A\n~A\n"));
        QVERIFY(rig.deliver("~A\n"));
        QTRY_COMPARE(rig.sim.receivedTexts(), (QList<QByteArray>{"~U", "~L0", "~P1", "~I"}));
        QTest::qWait(100);
        QCOMPARE(rig.sim.receivedTexts().size(), 4);

        // The identity reply was lost: the next answered heartbeat retries,
        // as a re-identification. A short identity changes nothing.
        QVERIFY(rig.board.sendHeartbeat());
        QVERIFY(rig.deliver("~A\n"));
        QTRY_COMPARE(rig.received("~I"), 2);
        QCOMPARE(rig.board.modelLetter(), QStringLiteral("upd"));
        QVERIFY(rig.deliver("~I3\n"));
        QCOMPARE(rig.board.modelLetter(), QStringLiteral("upd"));
        QVERIFY(rig.deliver("~I3.1U\n"));
        QCOMPARE(rig.board.modelLetter(), QStringLiteral("U"));
        QCOMPARE(rig.journalCount("Ostrel X2 v3.1U connected"), 1);

        // Identified: acknowledgements bring no handshake.
        QVERIFY(rig.board.sendHeartbeat());
        QVERIFY(rig.deliver("~A\n"));
        QTest::qWait(100);
        QCOMPARE(rig.received("~I"), 2);
    }

    void lostBoardIsIdentifiedAgainWithoutAnnouncement()
    {
        Rig rig;
        QVERIFY(rig.started);
        QVERIFY(rig.identify());
        QCOMPARE(rig.journalCount("Ostrel X2 v3.1U connected"), 1);
        QStringList letters;
        connect(&rig.board, &Board::identityChanged, this,
                [&] { letters << rig.board.modelLetter(); });

        rig.sim.unplug();
        QSignalSpy openFailed(&rig.board, &Board::portOpenFailed);
        QVERIFY(!rig.board.sendHeartbeat());
        QCOMPARE(openFailed.count(), 1);
        QCOMPARE(rig.board.modelLetter(), QString());
        QCOMPARE(rig.board.firmware(), QString());
        QCOMPARE(rig.board.channels(), 0);
        QCOMPARE(rig.board.inputKind(), int(InputReading::None));
        QVERIFY(!rig.board.isConnected());

        QVERIFY(rig.sim.plug());
        rig.sim.clearReceived();
        QVERIFY(rig.board.sendHeartbeat());
        QTRY_COMPARE(rig.board.modelLetter(), QStringLiteral("U"));
        QVERIFY(letters.contains(QStringLiteral("upd")));
        QCOMPARE(rig.sim.receivedTexts().mid(0, 4), (QList<QByteArray>{"~U", "~L1", "~P0", "~I"}));
        QCOMPARE(rig.journalCount("Ostrel X2 v3.1U connected"), 1);

        // A port change announces again.
        rig.board.setPort(rig.sim.portPath());
        QVERIFY(rig.board.sendHeartbeat());
        QTRY_COMPARE(rig.journalCount("Ostrel X2 v3.1U connected"), 2);
    }

    void splitAndMergedReplies_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second"); // 40 ms later
        QTest::addColumn<int>("acks");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<int>("t1");

        QTest::newRow("ack") << QByteArray("~") << QByteArray("A\n") << 1 << "" << -1;
        QTest::newRow("identity") << QByteArray("~I3.") << QByteArray("1U\n") << 0 << "U" << -1;
        QTest::newRow("settings") << QByteArray("~F52425") << QByteArray("12A37d\n") << 0 << ""
                                  << 5;
        QTest::newRow("two in one write")
            << QByteArray("~A\n~I2.7L\n") << QByteArray() << 1 << "L" << -1;
        QTest::newRow("merged across writes")
            << QByteArray("~A\n~F7") << QByteArray("F\n~A\n") << 2 << "" << 7;
        QTest::newRow("no terminator") << QByteArray("~I3") << QByteArray(".1U") << 0 << "U" << -1;
    }

    void splitAndMergedReplies()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(int, acks);
        QFETCH(QString, letter);
        QFETCH(int, t1);

        Rig rig;
        QVERIFY(rig.started);
        rig.board.setPort(rig.sim.portPath());
        QSignalSpy acked(&rig.board, &Board::acknowledged);
        rig.sim.sendRaw(first);
        if (!second.isEmpty())
            QTimer::singleShot(40, &rig.sim, [&] { rig.sim.sendRaw(second); });
        QTest::qWait(40 + Board::QuietTimeMs + 100);
        QCOMPARE(acked.count(), acks);
        QCOMPARE(rig.board.modelLetter(), letter);
        QCOMPARE(rig.board.settings().t1, t1);
    }

    // A board that splits every reply is identified on the first heartbeat.
    void splittingBoardIsIdentifiedAtOnce()
    {
        Rig rig;
        QVERIFY(rig.started);
        rig.sim.setSplitReplies(true);
        const qint64 start = now();
        QVERIFY(rig.identify());
        QVERIFY2(now() - start < 1000, qPrintable(QString::number(now() - start)));
        QCOMPARE(rig.received("~I"), 1);
    }

    void randomRepliesNeverBringAHandshakeUnasked()
    {
        Rig rig;
        QVERIFY(rig.started);
        rig.board.setPort(rig.sim.portPath());
        rig.sim.setSilent(true);
        const quint32 seed = qEnvironmentVariableIsSet("TOVEL3_FUZZ_SEED")
                                 ? qgetenv("TOVEL3_FUZZ_SEED").toUInt()
                                 : QRandomGenerator::global()->generate();
        // Every failure names the seed; TOVEL3_FUZZ_SEED repeats a run.
        const QString repeat = QStringLiteral("seed %1: ").arg(seed);
        Mutator mutator(seed);
        for (int i = 0; i < 1500; ++i) {
            if (i % 7 == 0) {
                rig.board.sendHeartbeat();
                // Re-identification is wanted now and then.
                if (i % 140 == 0)
                    rig.board.setPort(rig.sim.portPath());
            }
            const QByteArray chunk = mutator.next();
            if (!chunk.isEmpty())
                QVERIFY2(rig.deliver(chunk), qPrintable(repeat + chunk.toPercentEncoding()));
        }
        QTest::qWait(Board::QuietTimeMs + 50);

        // "~L" "~P" "~I" only as the handshake, right after a heartbeat with
        // no other command in between; a lone "~I" is a port search.
        const QList<QByteArray> texts = rig.sim.receivedTexts();
        bool heartbeat = false;
        int handshakes = 0;
        for (int i = 0; i < texts.size(); ++i) {
            const QByteArray &c = texts[i];
            const QString where =
                repeat + QStringLiteral("command %1 %2").arg(i).arg(c.constData());
            if (c == "~U" || (c == "~G" && heartbeat)) {
                heartbeat = true;
                continue;
            }
            if (c.startsWith("~L")) {
                QVERIFY2(heartbeat, qPrintable(where + " without a heartbeat"));
                QVERIFY2(texts.value(i + 1).startsWith("~P") && texts.value(i + 2) == "~I",
                         qPrintable(where + " not a handshake"));
                ++handshakes;
                i += 2;
            } else {
                QVERIFY2(c == "~I" || c == "~S1" || c == "~S2" || c == "~R1" || c == "~R2",
                         qPrintable(where));
            }
            heartbeat = false;
        }
        QVERIFY2(handshakes >= 1, qPrintable(repeat + "no handshake at all"));

        // A normal exchange still works.
        rig.sim.setSilent(false);
        QVERIFY(rig.identify());
    }

    void portSelection()
    {
        Rig rig;
        QVERIFY(rig.started);
        BoardSimulator second(BoardSimulator::S2);
        QVERIFY(second.start(rig.dir.path() + QStringLiteral("/second")));
        setExtraPorts({rig.sim.portPath(), second.portPath()});
        QSignalSpy selected(&rig.board, &Board::portSelected);

        // The saved port alone when it is there; a scan lists every port and
        // keeps the one in use.
        rig.board.restorePort(second.portPath());
        QCOMPARE(rig.board.ports(), QStringList{second.portPath()});
        QCOMPARE(rig.board.port(), second.portPath());
        QCOMPARE(selected.count(), 1);
        rig.board.scan();
        QCOMPARE(rig.board.ports(), (QStringList{rig.sim.portPath(), second.portPath()}));
        QCOMPARE(rig.board.port(), second.portPath());

        // A saved port that is gone gives the first one.
        Board other(&rig.journal);
        other.restorePort(QStringLiteral("/dev/ttyACM99"));
        QCOMPARE(other.port(), rig.sim.portPath());

        // No port at all.
        qunsetenv("TOVEL3_EXTRA_PORTS");
        Board none(&rig.journal);
        none.restorePort(QString());
        QCOMPARE(none.port(), QString());
        QCOMPARE(rig.journalCount("No connected watchdogs detected"), 1);
    }

    void stableLinkIsPreferred()
    {
        Rig rig;
        QVERIFY(rig.started);
        QTemporaryDir byId;
        const QString link = byId.path() + QStringLiteral("/usb-Brennic_Ostrel_X2_0042-if00");
        QVERIFY(QFile::link(rig.sim.slavePath(), link));

        QCOMPARE(Board::stablePortName(rig.sim.portPath(), byId.path()), link);
        QCOMPARE(Board::stablePortName(rig.sim.slavePath(), byId.path()), link);
        QCOMPARE(Board::stablePortName(link, byId.path()), link);
        QCOMPARE(Board::stablePortName(QStringLiteral("ttyACM99"), byId.path()),
                 QStringLiteral("ttyACM99"));
        // Pseudo-terminals have no such link in the system's directory.
        QCOMPARE(Board::stablePortName(rig.sim.portPath()), rig.sim.portPath());

        rig.board.setByIdDirectory(byId.path());
        rig.board.scan();
        QCOMPARE(rig.board.ports(), QStringList{link});
        QCOMPARE(rig.board.port(), link);
        QVERIFY(rig.identify());
    }

    // The board comes back under another name: after three failed heartbeats
    // the ports are asked "~I" and the board is followed to its new name.
    void boardIsFoundUnderAnotherName_data()
    {
        QTest::addColumn<bool>("unplugged");     // otherwise the old port stays silent
        QTest::addColumn<bool>("strangerBoard"); // the other port has a board of another model
        QTest::newRow("old port gone") << true << false;
        QTest::newRow("old port silent") << false << false;
        QTest::newRow("another model elsewhere") << true << true;
    }

    void boardIsFoundUnderAnotherName()
    {
        QFETCH(bool, unplugged);
        QFETCH(bool, strangerBoard);

        Rig rig;
        QVERIFY(rig.started);
        // Another device of the same vendor: silent, or a board of another model.
        BoardSimulator stranger(strangerBoard ? BoardSimulator::S2 : BoardSimulator::X2);
        stranger.setSilent(!strangerBoard);
        QVERIFY(stranger.start(rig.dir.path() + QStringLiteral("/stranger")));
        const QString newName = rig.dir.path() + QStringLiteral("/back");
        setExtraPorts({rig.sim.portPath(), stranger.portPath(), newName});
        QVERIFY(rig.identify());
        QSignalSpy moved(&rig.board, &Board::boardMoved);
        QSignalSpy selected(&rig.board, &Board::portSelected);

        if (unplugged)
            rig.sim.unplug();
        else
            rig.sim.setSilent(true);
        BoardSimulator back(BoardSimulator::X2);
        QVERIFY(back.start(newName));

        // Three failures, then the search (the third open failure, or the
        // heartbeat after the third unanswered one).
        for (int i = 0; i < Board::FailureBound + (unplugged ? 0 : 1); ++i) {
            QVERIFY(!moved.count());
            rig.board.sendHeartbeat();
            QTest::qWait(50);
        }
        QTRY_COMPARE_WITH_TIMEOUT(moved.count(), 1, 3 * Board::ProbeTimeoutMs + 500);
        QCOMPARE(rig.board.port(), newName);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toString(), newName);
        QCOMPARE(rig.journalCount(
                     QString("Watchdog moved from %1 to %2").arg(rig.sim.portPath(), newName)),
                 1);
        // The stranger was only asked who it is.
        QCOMPARE(stranger.receivedTexts(), QList<QByteArray>{"~I"});

        // The heartbeat goes to the board there; it is identified again
        // without a new announcement.
        QVERIFY(rig.board.sendHeartbeat());
        QTRY_COMPARE(rig.board.modelLetter(), QStringLiteral("U"));
        QCOMPARE(back.receivedTexts().mid(0, 5),
                 (QList<QByteArray>{"~I", "~U", "~L1", "~P0", "~I"}));
        QCOMPARE(rig.journalCount("Ostrel X2 v3.1U connected"), 1);
    }

    void noBoardAnywhereKeepsThePort()
    {
        Rig rig;
        QVERIFY(rig.started);
        QVERIFY(rig.identify());
        rig.sim.unplug();
        QSignalSpy moved(&rig.board, &Board::boardMoved);
        for (int i = 0; i < 2 * Board::FailureBound; ++i)
            QVERIFY(!rig.board.sendHeartbeat());
        QTest::qWait(100);
        QCOMPARE(moved.count(), 0);
        QCOMPARE(rig.board.port(), rig.sim.portPath());
        QCOMPARE(consoleCount("No board answered"), 2);

        // Back on its own name: fed and identified as before.
        QVERIFY(rig.sim.plug());
        QVERIFY(rig.board.sendHeartbeat());
        QTRY_COMPARE(rig.board.modelLetter(), QStringLiteral("U"));
    }
};

TOVEL3_TEST_MAIN(TestBoard)
#include "tst_board.moc"
