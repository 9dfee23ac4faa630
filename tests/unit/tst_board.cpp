// Board against the simulated boards on pseudo-terminals: commands and their
// journal entries, channel, switch, settings and identity replies, the write
// confirmation, compatibility mode, the identification rules, split and
// merged replies, noise, the order of exchanges, a lock file planted by
// another user, and never taking another device for the board.

#include "support/boardrig.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace BoardProtocol;

namespace
{
qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void setExtraPorts(const QStringList &ports)
{
    qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(ports.join(QLatin1Char(':'))));
}

// The shared rig, its console cleared, and bytes sent as the board.
struct Rig : BoardRig {
    explicit Rig(BoardSimulator::Model model = BoardSimulator::X2)
        : BoardRig(model)
    {
        Console::clear();
    }

    // Bytes from the board, as if it sent them now; true once they arrived.
    bool deliver(const QByteArray &bytes)
    {
        QSignalSpy arrived(&board, &Board::replyReceived);
        sim.sendRaw(bytes);
        return arrived.wait(1000);
    }
};

// Another ordinary user of this machine, made for one test and removed
// after it.
class OtherUser
{
public:
    OtherUser()
        : m_name(QStringLiteral("tovel3u%1").arg(QCoreApplication::applicationPid()))
    {
        m_made = QProcess::execute(QStringLiteral("useradd"),
                                   {"-M", "-N", "-s", "/usr/sbin/nologin", m_name}) == 0;
    }
    ~OtherUser()
    {
        if (m_made)
            QProcess::execute(QStringLiteral("userdel"), {m_name});
    }
    bool made() const { return m_made; }
    // `program` run as this user.
    QStringList command(const QStringList &program) const
    {
        return QStringList{"setpriv", "--reuid=" + m_name, "--regid=users", "--clear-groups"} +
               program;
    }

private:
    QString m_name;
    bool m_made = false;
};

// Random and mutated replies, runs of noise and now and then a flood far
// longer than one read of the port, for the noise test.
class Mutator
{
public:
    explicit Mutator(quint32 seed)
        : m_rng(seed)
    {
    }

    QByteArray next()
    {
        QByteArray b;
        switch (m_rng.bounded(7)) {
        case 0:
            return pick() + "\n";
        case 1: // mutated
            b = pick();
            for (int n = 1 + m_rng.bounded(3); n > 0; --n)
                b[m_rng.bounded(b.size())] = byte();
            return b + (m_rng.bounded(2) ? "\n" : "");
        case 2: // cut short
            b = pick();
            return b.left(m_rng.bounded(b.size() + 1));
        case 3: // several, with odd separators
            for (int n = 1 + m_rng.bounded(6); n > 0; --n)
                b += pick() + QList<QByteArray>{"\n", "\r\n", "", "\n\n"}[m_rng.bounded(4)];
            return b;
        case 4: // bytes
            for (int n = 1 + m_rng.bounded(40); n > 0; --n)
                b += byte();
            return b;
        case 5: // a byte too many
            b = pick();
            b.insert(m_rng.bounded(b.size() + 1), byte());
            return b + "\n";
        default:
            if (m_rng.bounded(40) != 0)
                return pick() + "\n" + pick() + "\n";
            for (int size = 2000 + m_rng.bounded(60000); b.size() < size;)
                b += m_rng.bounded(3) ? pick() + "\n" : QByteArray(1, byte());
            return b;
        }
    }

private:
    QByteArray pick()
    {
        static const QList<QByteArray> corpus =
            QByteArray("~A ~F5242512A37d ~F52 ~F123 ~I3.1U ~I2.7L ~I ~I3 ~GI001 ~GO000 ~G0235 "
                       "~G-055 ~GE000 ~Gxyzw ~S1 ~S2 ~R1 ~R2 ~L0 ~L1 ~P0 ~P1 ~T1 ~M2 ~D ~ "
                       "~W5242 ~G ~F ~S ~R9 ~I12345678U")
                .split(' ');
        return corpus[m_rng.bounded(corpus.size())];
    }
    char byte()
    {
        static const QByteArray bytes(
            "~AFLPIGSRUWTMD0123456789abcdefXYZ\n\r \t\x01\x7f\x80\xff\xe9\0", 43);
        return bytes[m_rng.bounded(bytes.size())];
    }

    QRandomGenerator m_rng;
};
} // namespace

class TestBoard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Console::capture(); }

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
            << x2 << "testPower" << QByteArray("~T2") << "Hard reset requested" << true;
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
        QVERIFY(rig.identify());
        const int before = rig.sim.receivedTexts().size();
        Console::clear();

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
            return;
        }
        QCOMPARE(Console::count(">>" + QString::fromLatin1(command)), 1);
        if (answerRead) {
            QTRY_VERIFY_WITH_TIMEOUT(Console::starting("<<" + QString::fromLatin1(command)) == 1,
                                     1000);
        } else {
            QTest::qWait(300);
            QCOMPARE(Console::starting("<<"), 0);
            rig.board.sendHeartbeat(); // opens the port again
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.received(command), 1, 1000);
        QCOMPARE(rig.sim.receivedTexts().at(before), command);
    }

    // The board's word is its state, and nothing is sent back on it: a
    // request it leaves unanswered changes nothing; a reply, asked for or
    // contradicting the last command, sets the channels, the switches and
    // the input.
    void boardsWordIsTheState()
    {
        Rig rig;
        QVERIFY(rig.identify());
        rig.sim.setSilent(true);
        QSignalSpy changes(&rig.board, &Board::channelStateChanged);
        QVERIFY(rig.board.setChannel(1, true));
        QTRY_COMPARE(rig.received("~S1"), 1);
        QTest::qWait(100);
        QVERIFY(!rig.board.channel1Closed());
        QCOMPARE(changes.count(), 0);
        rig.sim.clearReceived();
        QVERIFY(rig.deliver("~S1\n"));
        QVERIFY(rig.board.channel1Closed());
        QCOMPARE(changes.count(), 1);
        QVERIFY(rig.deliver("~S1\n~R2\n"));
        QVERIFY(rig.deliver("~S3\n~R0\n~S\n"));
        QCOMPARE(changes.count(), 1);
        QVERIFY(rig.deliver("~R1\n~S2\n"));
        QVERIFY(!rig.board.channel1Closed());
        QVERIFY(rig.board.channel2Closed());

        QVERIFY(rig.board.led() && !rig.board.isSuspended());
        QVERIFY(rig.deliver("~L0\n"));
        QVERIFY(!rig.board.led());
        QVERIFY(rig.deliver("~L1\n~P1\n~P7\n"));
        QVERIFY(rig.board.led());
        QVERIFY(rig.board.isSuspended());
        QVERIFY(rig.deliver("~P0"));
        QTRY_VERIFY(!rig.board.isSuspended()); // no "\n": taken after the quiet time
        QVERIFY(rig.deliver("~A\n~GI001\n"));
        QCOMPARE(rig.board.inputKind(), int(InputReading::Input));
        QCOMPARE(rig.board.inputLevel(), QStringLiteral("1"));
        QTest::qWait(Board::ExchangeTimeoutMs);
        QCOMPARE(rig.sim.receivedTexts(), QList<QByteArray>{});
        QCOMPARE(rig.journalCount("Requested channel 1 open"), 0);
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
        // Identified when the port opens, so the first heartbeat already
        // reads the input; the handshake with the default switches answers
        // its acknowledgement.
        const QList<QByteArray> first =
            QList<QByteArray>{"~I", "~U"} +
            (readsInput ? QList<QByteArray>{"~G"} : QList<QByteArray>{}) +
            QList<QByteArray>{"~L1", "~P0"};
        QCOMPARE(rig.sim.receivedTexts(), first);
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
        QCOMPARE(rig.received("~G"), readsInput ? 2 : 0);
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
        // settings, which confirms the write.
        s.t1 = 10;
        const qint64 writtenAt = now();
        rig.board.writeSettings(s);
        QVERIFY(rig.board.writePending());
        QTRY_COMPARE(confirmed.count(), 1);
        QCOMPARE(rig.received("~WA242512A37d"), 1);
        QVERIFY(!rig.board.writePending());
        QVERIFY(now() - writtenAt < timeout);
        QTest::qWait(timeout + 100);
        QCOMPARE(failed.count(), 0); // a confirmed write never fails later

        // The short form keeps the threshold; another length is no settings.
        QVERIFY(rig.deliver("~F7F\n"));
        QCOMPARE(rig.board.settingsValues(), (QVariantList{7, 15, -1, -1, -1, 1, -1, -1, -1, 125}));
        QCOMPARE(rig.board.settingsForm(), int(BoardSettings::Short));
        QVERIFY(rig.deliver("~F123\n"));
        QCOMPARE(rig.board.settingsForm(), int(BoardSettings::Invalid));
        QCOMPARE(Console::count("Unknown settings"), 1);

        // No answer: failed one timeout after the write; an invalid settings
        // reply does not confirm.
        rig.sim.setSilent(true);
        const qint64 silentAt = now();
        rig.board.writeSettings(s);
        QVERIFY(rig.deliver("~F1234\n"));
        QVERIFY(failed.wait(1500));
        const qint64 failedAfter = now() - silentAt;
        QVERIFY2(failedAfter >= timeout - 50 && failedAfter <= timeout + 500,
                 qPrintable(QString::number(failedAfter)));
        QVERIFY(!rig.board.writePending());
        QCOMPARE(failed.count(), 1);
        QCOMPARE(confirmed.count(), 1);
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

    // The port's opening asks who is there, without feeding the board: one
    // whose checks fail is still known, and takes commands.
    void identifiedWhenThePortOpens()
    {
        Rig rig;
        QVERIFY(rig.started);
        rig.board.setPort(rig.sim.portPath());
        QTRY_COMPARE(rig.board.model(), QStringLiteral("Ostrel X2"));
        QCOMPARE(rig.journalCount("Ostrel X2 v3.1U connected"), 1);
        QVERIFY(rig.board.setSuspended(true));
        QTRY_VERIFY(rig.board.isSuspended());
        QCOMPARE(rig.sim.receivedTexts(), (QList<QByteArray>{"~I", "~P1"}));
    }

    // The handshake carries "~P": it answers only the acknowledgement of a
    // heartbeat, once per opening. An identity that never comes is asked for
    // twice in all.
    void handshakeOnceAndIdentityTwice()
    {
        Rig rig;
        QVERIFY(rig.started);
        rig.board.setSwitchDefaults(false, true);
        rig.sim.setSilent(true);
        rig.board.setPort(rig.sim.portPath());
        QTRY_COMPARE(rig.received("~I"), 2);
        QSignalSpy acks(&rig.board, &Board::acknowledged);

        QVERIFY(rig.deliver("~A\n"));
        QCOMPARE(acks.count(), 1);
        for (int i = 1; i <= 4; ++i) {
            QVERIFY(rig.board.sendHeartbeat());
            QTRY_COMPARE(rig.received("~U"), i);
            QVERIFY(rig.deliver("~A\n~A\n"));
        }
        QTest::qWait(Board::ExchangeTimeoutMs);
        QCOMPARE(rig.sim.receivedTexts(),
                 (QList<QByteArray>{"~I", "~I", "~U", "~L0", "~P1", "~U", "~U", "~U"}));

        // A short identity changes nothing; one that comes after both asks
        // went unanswered still identifies and announces the board, once.
        QVERIFY(rig.deliver("~I3\n"));
        QCOMPARE(rig.board.modelLetter(), QString());
        QVERIFY(rig.deliver("~I3.1U\n"));
        QCOMPARE(rig.board.modelLetter(), QStringLiteral("U"));
        QVERIFY(rig.deliver("~I3.1U\n"));
        QCOMPARE(rig.journalCount("Ostrel X2 v3.1U connected"), 1);
    }

    void lostBoardIsIdentifiedAgainWithoutAnnouncement()
    {
        Rig rig;
        QVERIFY(rig.identify());
        QCOMPARE(rig.journalCount("Ostrel X2 v3.1U connected"), 1);

        rig.sim.unplug();
        QSignalSpy openFailed(&rig.board, &Board::portOpenFailed);
        QVERIFY(!rig.board.sendHeartbeat());
        QCOMPARE(openFailed.count(), 1);
        QCOMPARE(rig.board.modelLetter(), QString());
        QCOMPARE(rig.board.firmware(), QString());
        QCOMPARE(rig.board.channels(), 0);
        QCOMPARE(rig.board.inputKind(), int(InputReading::None));
        QVERIFY(!rig.board.isConnected());
        // A command still leaves its journal line.
        Console::clear();
        QVERIFY(!rig.board.testPower());
        QCOMPARE(rig.journalCount("Hard reset requested"), 1);
        QCOMPARE(Console::count("!!Cannot write to "), 1);

        QVERIFY(rig.sim.plug());
        rig.sim.clearReceived();
        QVERIFY(rig.board.sendHeartbeat());
        QTRY_COMPARE(rig.sim.receivedTexts().size(), 5);
        QCOMPARE(rig.sim.receivedTexts(), (QList<QByteArray>{"~I", "~U", "~G", "~L1", "~P0"}));
        QCOMPARE(rig.board.modelLetter(), QStringLiteral("U"));
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
        rig.sim.setSilent(true); // only the bytes below
        rig.board.setPort(rig.sim.portPath());
        QSignalSpy acked(&rig.board, &Board::acknowledged);
        rig.sim.sendRaw(first);
        if (!second.isEmpty())
            QTimer::singleShot(40, &rig.sim, [&] { rig.sim.sendRaw(second); });
        // Taken too early, a piece would be no reply and change nothing.
        QTRY_COMPARE(acked.count(), acks);
        QTRY_COMPARE(rig.board.modelLetter(), letter);
        QTRY_COMPARE(rig.board.settings().t1, t1);
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
        QVERIFY(rig.identify(false));
        QSignalSpy acks(&rig.board, &Board::acknowledged);
        const quint32 seed = qEnvironmentVariableIsSet("TOVEL3_FUZZ_SEED")
                                 ? qgetenv("TOVEL3_FUZZ_SEED").toUInt()
                                 : QRandomGenerator::global()->generate();
        // Every failure names the seed; TOVEL3_FUZZ_SEED repeats a run.
        const QString repeat = QStringLiteral("seed %1: ").arg(seed);
        Mutator mutator(seed);
        auto deliver = [&](const QByteArray &chunk) {
            return chunk.isEmpty() || rig.deliver(chunk);
        };

        // Without a heartbeat, neither an acknowledgement nor any noise gets
        // an answer: only the identification of the port's opening was sent.
        for (int i = 0; i < 3; ++i)
            QVERIFY(rig.deliver("~A\n"));
        QCOMPARE(acks.count(), 3);
        for (int i = 0; i < 1000; ++i) {
            const QByteArray chunk = mutator.next();
            QVERIFY2(deliver(chunk), qPrintable(repeat + chunk.left(100).toPercentEncoding()));
        }
        QTest::qWait(Board::QuietTimeMs + 50);
        QVERIFY2(rig.sim.receivedTexts() == QList<QByteArray>{"~I"}, qPrintable(repeat));

        // With heartbeats now and then.
        rig.sim.setSilent(true);
        rig.sim.clearReceived();
        for (int i = 0; i < 1500; ++i) {
            if (i % 7 == 0) {
                // Now and then the port anew, and one clean exchange.
                if (i % 140 == 0) {
                    rig.board.setPort(rig.sim.portPath());
                    QVERIFY(rig.deliver("~I3.1U\n"));
                    rig.board.sendHeartbeat();
                    QVERIFY(rig.deliver("~A\n~G0235\n"));
                }
                rig.board.sendHeartbeat();
            }
            const QByteArray chunk = mutator.next();
            QVERIFY2(deliver(chunk), qPrintable(repeat + chunk.left(100).toPercentEncoding()));
        }
        QTest::qWait(Board::QuietTimeMs + 50);

        // "~L" "~P" only as the handshake, at most one for each heartbeat
        // written before it; besides, only identification and heartbeats.
        const QList<QByteArray> texts = rig.sim.receivedTexts();
        bool fed = false;
        int handshakes = 0;
        for (int i = 0; i < texts.size(); ++i) {
            const QByteArray &c = texts[i];
            const QString where =
                repeat + QStringLiteral("command %1 %2").arg(i).arg(c.constData());
            if (c.startsWith("~L")) {
                QVERIFY2(fed, qPrintable(where + " without a heartbeat"));
                QVERIFY2(texts.value(i + 1).startsWith("~P"),
                         qPrintable(where + " not a handshake"));
                ++handshakes;
                fed = false;
                ++i;
            } else {
                QVERIFY2(c == "~U" || c == "~G" || c == "~I", qPrintable(where));
                fed = fed || c == "~U";
            }
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

        // A saved port that is gone stays the port: another device of the
        // same vendor is no substitute for it, and gets nothing.
        Board other(&rig.journal);
        other.restorePort(QStringLiteral("/dev/ttyACM99"));
        other.scan();
        QCOMPARE(other.port(), QStringLiteral("/dev/ttyACM99"));
        QVERIFY(!other.sendHeartbeat());
        QTest::qWait(100);
        QCOMPARE(rig.sim.receivedTexts(), QList<QByteArray>{});

        // No port at all.
        qunsetenv("TOVEL3_EXTRA_PORTS");
        Board none(&rig.journal);
        none.restorePort(QString());
        QCOMPARE(none.port(), QString());
        QCOMPARE(rig.journalCount("No connected watchdogs detected"), 1);
        // A board plugged in later is taken by the next scan.
        setExtraPorts({rig.sim.portPath()});
        none.scan();
        QCOMPARE(none.port(), rig.sim.portPath());
        QTRY_COMPARE(rig.received("~I"), 1);
    }

    // Only the board itself is fed, wherever it went: a silent board keeps
    // its heartbeat, another device (a board of the same model too) is never
    // written to, and a board back on another device under its stable link
    // is fed there. The chosen port stays the one to save.
    void noOtherDeviceIsTakenForTheBoard_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("board silent") << "silent";
        QTest::newRow("board unplugged") << "unplugged";
        QTest::newRow("board back on another device") << "back";
    }

    void noOtherDeviceIsTakenForTheBoard()
    {
        QFETCH(QString, change);
        Rig rig;
        QVERIFY(rig.started);
        // Stable links as udev makes them, by model and serial number.
        QTemporaryDir byId;
        const QString link = byId.filePath(QStringLiteral("usb-Brennic_Ostrel_X2_0042-if00"));
        QVERIFY(QFile::link(rig.sim.slavePath(), link));
        BoardSimulator stranger;
        QVERIFY(stranger.start(rig.dir.path() + QStringLiteral("/stranger")));
        const QString strangerLink =
            byId.filePath(QStringLiteral("usb-Brennic_Ostrel_X2_0043-if00"));
        QVERIFY(QFile::link(stranger.slavePath(), strangerLink));
        QCOMPARE(Board::stablePortName(rig.sim.portPath(), byId.path()), link);
        QCOMPARE(Board::stablePortName(rig.sim.slavePath(), byId.path()), link);
        QCOMPARE(Board::stablePortName(link, byId.path()), link);
        QCOMPARE(Board::stablePortName(QStringLiteral("ttyACM99"), byId.path()),
                 QStringLiteral("ttyACM99"));
        // Pseudo-terminals have no such link in the system's directory.
        QCOMPARE(Board::stablePortName(rig.sim.portPath()), rig.sim.portPath());
        setExtraPorts({rig.sim.portPath(), stranger.portPath()});
        rig.board.setByIdDirectory(byId.path());
        QVERIFY(rig.identify());
        QCOMPARE(rig.board.port(), link);
        rig.board.scan(); // lists the stable names
        QCOMPARE(rig.board.ports(), (QStringList{link, strangerLink}));
        QSignalSpy selected(&rig.board, &Board::portSelected);
        QSignalSpy moved(&rig.board, &Board::boardMoved);

        BoardSimulator back;
        if (change == QLatin1String("silent")) {
            rig.sim.setSilent(true);
        } else {
            rig.sim.unplug();
            QVERIFY(QFile::remove(link));
        }
        if (change == QLatin1String("back")) {
            QVERIFY(back.start(rig.dir.path() + QStringLiteral("/back")));
            QVERIFY(QFile::link(back.slavePath(), link));
        }
        rig.sim.clearReceived();
        const int beats = 4; // one more than were once enough to lose the board
        for (int i = 1; i <= beats; ++i) {
            rig.board.sendHeartbeat();
            rig.board.scan();
            // Written at once, or after the unanswered one before it.
            if (change != QLatin1String("unplugged"))
                QTRY_COMPARE_WITH_TIMEOUT(
                    (change == QLatin1String("back") ? back : rig.sim).receivedTexts().count("~U"),
                    i, 2000);
        }
        QTest::qWait(Board::ExchangeTimeoutMs + 50);
        QCOMPARE(stranger.receivedTexts(), QList<QByteArray>{});
        QCOMPARE(rig.board.port(), link);
        QCOMPARE(selected.count(), 0);
        QCOMPARE(moved.count(), 0);
        if (change == QLatin1String("silent"))
            QTRY_COMPARE(rig.received("~U"), beats);
        if (change == QLatin1String("back")) {
            QTRY_COMPARE(back.receivedTexts().count("~U"), beats);
            QCOMPARE(rig.board.modelLetter(), QStringLiteral("U"));
            QCOMPARE(rig.journalCount("Ostrel X2 v3.1U connected"), 1);
        }
        if (change == QLatin1String("unplugged")) {
            QCOMPARE(rig.board.modelLetter(), QString());
            QVERIFY(rig.sim.plug());
            QVERIFY(QFile::link(rig.sim.slavePath(), link));
            QVERIFY(rig.board.sendHeartbeat());
            QTRY_COMPARE(rig.received("~U"), 1);
        }
    }

    // A command never costs the heartbeat its answer, and a heartbeat due
    // while commands wait goes next after the exchange under way.
    void heartbeatGoesNextAndKeepsItsAnswer()
    {
        Rig rig;
        QVERIFY(rig.identify());
        QSignalSpy acks(&rig.board, &Board::acknowledged);
        QSignalSpy replies(&rig.board, &Board::replyReceived);
        rig.sim.setSilent(true);
        QVERIFY(rig.board.sendHeartbeat());
        rig.sim.sendRaw("~"); // its answer begins
        QVERIFY(replies.wait(1000));
        QVERIFY(rig.board.readSettings());
        rig.sim.sendRaw("A\n~GI001\n"); // and ends
        QTRY_COMPARE(acks.count(), 1);
        QTRY_COMPARE(rig.received("~F"), 1);
        QCOMPARE(rig.board.inputLevel(), QStringLiteral("1"));
        rig.sim.setSilent(false);
        QTest::qWait(Board::ExchangeTimeoutMs + 50); // the "~F" unanswered

        rig.sim.setReplyDelay(200);
        rig.sim.clearReceived();
        QVERIFY(rig.board.readSettings());
        QVERIFY(rig.board.setLed(false));
        QVERIFY(rig.board.setLed(true));
        QVERIFY(rig.board.sendHeartbeat());
        QTRY_COMPARE(rig.sim.receivedTexts().size(), 5);
        QCOMPARE(rig.sim.receivedTexts(), (QList<QByteArray>{"~F", "~U", "~G", "~L0", "~L1"}));
        QTRY_COMPARE(acks.count(), 2);
    }

    // Another user plants the serial port lock file of our port, naming a
    // live process of theirs, in every directory it may write to: the port
    // opens and the board is fed all the same.
    void foreignLockFileLeavesTheHeartbeat()
    {
        if (::geteuid() != 0)
            QSKIP("making another user needs root");
        OtherUser attacker;
        QVERIFY(attacker.made());
        Rig rig;
        QVERIFY(rig.started);
        QProcess holder; // the process the lock names
        const QStringList sleeper = attacker.command({"sleep", "60"});
        holder.start(sleeper.first(), sleeper.mid(1));
        QVERIFY(holder.waitForStarted());
        const QString name =
            QStringLiteral("LCK..") + QString(rig.sim.portPath()).replace(QLatin1Char('/'), '_');
        const QString content = QStringLiteral("%1\nsleep\n%2\n")
                                    .arg(holder.processId())
                                    .arg(QSysInfo::machineHostName());
        QStringList planted;
        auto cleanUp = qScopeGuard([&] {
            holder.kill();
            holder.waitForFinished();
            for (const QString &file : qAsConst(planted))
                QFile::remove(file);
        });
        for (const char *dir : {"/run/lock", "/var/lock", "/tmp", "/var/tmp"}) {
            const QString file = QLatin1String(dir) + QLatin1Char('/') + name;
            const QStringList plant =
                attacker.command({"sh", "-c", "printf '%s' \"$1\" > \"$2\"", "sh", content, file});
            if (QProcess::execute(plant.first(), plant.mid(1)) == 0)
                planted << file;
        }
        QVERIFY(!planted.isEmpty());

        QSignalSpy acks(&rig.board, &Board::acknowledged);
        rig.board.setPort(rig.sim.portPath());
        for (int i = 1; i <= 3; ++i) {
            rig.board.sendHeartbeat();
            QTRY_COMPARE(acks.count(), i);
        }
        QCOMPARE(rig.received("~U"), 3);
    }
};

TOVEL3_TEST_MAIN(TestBoard)
#include "tst_board.moc"
