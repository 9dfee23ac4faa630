// Thousands of random and mutated board replies through the real channel into
// the real main window while the network check fails: no QML error, no
// heartbeat and nothing that restarts the board's clock, and a normal
// exchange afterwards. Then split, late and garbage-prefixed replies.

#include "testenvironment.h"
#include "trayicon.h"
#include "windowharness.h"

#include <QApplication>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>
#include <QtTest>

using namespace WindowTest;

namespace
{
int repliesHandled()
{
    int n = 0;
    for (const ConsoleLine &line : messages().console)
        n += line.text.startsWith(QLatin1String("<<")) ? 1 : 0;
    return n;
}

const QList<QByteArray> corpus = {"~A",     "~F5242512A37d",
                                  "~F52",   "~F123",
                                  "~I3.1U", "~I2.7L",
                                  "~I",     "~I3",
                                  "~GI001", "~GO000",
                                  "~G0235", "~G-055",
                                  "~GE000", "~Gxyzw",
                                  "~S1",    "~S2",
                                  "~R1",    "~R2",
                                  "~L0",    "~L1",
                                  "~P0",    "~P1",
                                  "~T1",    "~M2",
                                  "~D",     "~",
                                  "~W5242", "~G",
                                  "~F",     "~S",
                                  "~R9",    "~I12345678U"};

const char alphabetBytes[] = "~AFLPIGSRUWTMD0123456789abcdefXYZ\n\r \t\x01\x7f\x80\xff\xe9\x00";
const QByteArray alphabet(alphabetBytes, sizeof(alphabetBytes) - 1);
const char noiseBytes[] = "\x01zz~Q\xff\n~";

class Mutator
{
public:
    explicit Mutator(quint32 seed)
        : rng(seed)
    {
    }

    QByteArray next()
    {
        switch (rng.bounded(7)) {
        case 0:
            return pick() + "\n";
        case 1: {
            QByteArray b = pick();
            for (int n = 1 + rng.bounded(3); n > 0; --n)
                b[rng.bounded(b.size())] = randomByte();
            return b + (rng.bounded(2) ? "\n" : "");
        }
        case 2: {
            const QByteArray b = pick();
            return b.left(rng.bounded(b.size() + 1));
        }
        case 3: {
            QByteArray b;
            const char *separators[] = {"\n", "\r\n", "", "\n\n"};
            for (int n = 1 + rng.bounded(6); n > 0; --n)
                b += pick() + separators[rng.bounded(4)];
            return b;
        }
        case 4: {
            QByteArray b;
            for (int n = 1 + rng.bounded(40); n > 0; --n)
                b += randomByte();
            return b;
        }
        case 5: {
            QByteArray b = pick();
            b.insert(rng.bounded(b.size() + 1), randomByte());
            return b + "\n";
        }
        default:
            if (rng.bounded(40) != 0)
                return pick() + "\n" + pick() + "\n";
            // Oversized: far more than one read of the port.
            QByteArray b;
            const int size = 2000 + rng.bounded(60000);
            while (b.size() < size)
                b += rng.bounded(3) ? pick() + "\n" : QByteArray(1, randomByte());
            return b;
        }
    }

private:
    QByteArray pick() { return corpus[rng.bounded(corpus.size())]; }
    char randomByte() { return alphabet[rng.bounded(alphabet.size())]; }

    QRandomGenerator rng;
};
} // namespace

class TestWindowFuzz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installMessageHandler(); }
    void init() { startCase(); }
    void cleanup() { verifyNoQmlProblems(); }

    void randomRepliesNeverFeedTheBoard()
    {
        PingStandIn ping;
        ping.setDown(true);
        Harness h;
        BoardSimulator *board = h.addBoard(BoardSimulator::X2);
        QVERIFY(board);
        writeSettings({{"ping/on", true}, {"ping/url", "127.0.0.1"}, {"manualon", true}});
        QVERIFY(h.load());
        board->setSilent(true);
        int clockRestarts = 0;
        QObject::connect(board, &BoardSimulator::commandReceived, [&](const QByteArray &c) {
            if (c.startsWith("~U") || c.startsWith("~P0") || c.startsWith("~W"))
                ++clockRestarts;
        });

        const quint32 seed = qEnvironmentVariableIsSet("TOVEL3_FUZZ_SEED")
                                 ? qgetenv("TOVEL3_FUZZ_SEED").toUInt()
                                 : QRandomGenerator::global()->generate();
        qInfo("fuzz seed %u (set TOVEL3_FUZZ_SEED to repeat)", seed);
        Mutator mutator(seed);
        const int rounds = 2500;
        int handled = 0;
        for (int i = 0; i < rounds; ++i) {
            const QByteArray chunk = mutator.next();
            const int before = repliesHandled();
            bool opened = false;
            QMetaObject::invokeMethod(h.serial, "open", Q_RETURN_ARG(bool, opened),
                                      Q_ARG(QString, board->portPath()));
            QVERIFY2(opened, "the window's channel no longer opens the board");
            board->sendRaw(chunk);
            if (!chunk.isEmpty() && !chunk.startsWith('\0')) {
                // The window's handler runs first; this connection only ends the wait.
                QEventLoop wait;
                QTimer deadline;
                deadline.setSingleShot(true);
                QObject::connect(&deadline, &QTimer::timeout, &wait, &QEventLoop::quit);
                QObject::connect(h.serial, SIGNAL(dataReady(QString)), &wait, SLOT(quit()));
                deadline.start(500);
                wait.exec();
                if (repliesHandled() > before)
                    ++handled;
                else if (qEnvironmentVariableIsSet("TOVEL3_FUZZ_DEBUG"))
                    qInfo("unhandled %s", chunk.toPercentEncoding().left(80).constData());
            }
            QMetaObject::invokeMethod(h.serial, "close");
            if (!messages().qmlProblems.isEmpty())
                QFAIL(qPrintable(QString("after %1: %2")
                                     .arg(QString::fromLatin1(chunk.toPercentEncoding().left(300)),
                                          messages().qmlProblems.join('\n'))));
        }
        qInfo("%d of %d chunks handled", handled, rounds);
        QVERIFY2(handled > rounds * 8 / 10,
                 qPrintable(QString("%1 of %2 handled").arg(handled).arg(rounds)));
        QCOMPARE(clockRestarts, 0);
        QCOMPARE(h.received("~U"), 0);
        // The only commands sent were the channel switches answering replies
        // that contradicted them.
        for (const QByteArray &c : board->receivedTexts())
            QVERIFY2(c == "~S1" || c == "~S2" || c == "~R1" || c == "~R2", c.constData());

        // A normal exchange still works once the network answers again.
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        bool green = false;
        QObject::connect(tray, &TrayIcon::iconChanged, [&] {
            green = green || tray->iconResource() == QLatin1String("tovel3_g.png");
        });
        board->setSilent(false);
        ping.setDown(false);
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= 1, 4500);
        QTRY_VERIFY_WITH_TIMEOUT(green, 1000);
        // Forget whatever the noise identified, as a port change does.
        h.root->setProperty("first_ack", true);
        QTRY_COMPARE_WITH_TIMEOUT(h.page1->property("wdg_type").toString(), QStringLiteral("U"),
                                  4500);
        Harness::control(h.page2, "p9Box")->setProperty("currentIndex", 0);
        h.call("serialCommand", QStringLiteral("~F"));
        QTRY_COMPARE(Harness::control(h.page2, "p9Box")->property("currentIndex").toInt(), 3);
        QVERIFY(Harness::control(h.page2, "writebutton")->property("enabled").toBool());
    }

    void splitLateAndNoisyRepliesKeepTheHeartbeatGoing()
    {
        Harness h;
        BoardSimulator *board = h.addBoard(BoardSimulator::X2);
        QVERIFY(board);
        QVERIFY(h.load());
        QTRY_COMPARE_WITH_TIMEOUT(h.page1->property("wdg_type").toString(), QStringLiteral("U"),
                                  6000);

        // Split: the first half closes the port and the rest is lost; the
        // next cycles still send their heartbeat.
        board->setSplitReplies(true);
        int beats = h.received("~U");
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= beats + 2, 7000);
        board->setSplitReplies(false);

        // Noise before every reply.
        board->setGarbage(QByteArray(noiseBytes, sizeof(noiseBytes) - 1));
        beats = h.received("~U");
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= beats + 2, 7000);
        board->setGarbage(QByteArray());

        // Late: answered after the next cycle began.
        board->setReplyDelay(3300);
        beats = h.received("~U");
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= beats + 2, 7000);
        board->setReplyDelay(0);

        // Back to normal.
        beats = h.received("~U");
        const int inputs = h.received("~G");
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= beats + 1, 4000);
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~G") > inputs, 4000);
        QTRY_COMPARE_WITH_TIMEOUT(h.tray->property("iconSource").toString(),
                                  QStringLiteral("tovel3.png"), 4000);
    }
};

TOVEL3_TEST_MAIN(TestWindowFuzz)
#include "tst_window_fuzz.moc"
