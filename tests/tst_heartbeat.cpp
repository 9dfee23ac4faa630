// The heartbeat with no check enabled, end to end: the real main window, the
// real serial channel and a simulated board on a pseudo-terminal.

#include "testenvironment.h"
#include "trayicon.h"
#include "windowharness.h"

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

using namespace WindowTest;

namespace
{
QString text(QObject *o, const char *property = "text")
{
    return o ? o->property(property).toString() : QStringLiteral("<missing>");
}
} // namespace

class TestHeartbeat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installMessageHandler(); }
    void init() { startCase(); }
    void cleanup() { verifyNoQmlProblems(); }

    void twoChannelBoardIsFedIdentifiedAndFollowedThroughUnplug()
    {
        Harness h;
        BoardSimulator *board = h.addBoard(BoardSimulator::X2);
        QVERIFY(board);
        writeSettings({{"manualon", true}});
        QVERIFY(h.load());
        QObject *label = Harness::control(h.page1, "get_in_label");
        QVERIFY(label);

        // Before anything was identified the heartbeat is the plain "~U",
        // and the first acknowledgement brings the handshake with the
        // default switches (green LED on, timer running).
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~I") == 1, 6000);
        QList<QByteArray> texts = board->receivedTexts();
        QCOMPARE(texts.mid(0, 4), (QList<QByteArray>{"~U", "~L1", "~P0", "~I"}));
        QVERIFY(consoleCount("restart timer") >= 1);
        QTRY_COMPARE_WITH_TIMEOUT(h.page1->property("wdg_type").toString(), QStringLiteral("U"),
                                  2000);
        QCOMPARE(h.page1->property("wdg_version").toString(), QStringLiteral("3.1"));
        QCOMPARE(h.page1->property("wdg_channel").toString(), QStringLiteral("2"));
        QVERIFY(Harness::control(h.page1, "remote_btn_m1")->property("enabled").toBool());
        QVERIFY(Harness::control(h.page1, "remote_btn_m2")->property("enabled").toBool());
        QCOMPARE(h.journalCount("Ostrel X2 v3.1U connected"), 1);

        // Identified as two-channel: the heartbeat also reads the input, and
        // the label follows every reading.
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~G") == 1, 4500);
        texts = board->receivedTexts();
        QCOMPARE(texts[texts.indexOf("~G") - 1], QByteArray("~U"));
        QTRY_COMPARE_WITH_TIMEOUT(text(label), QStringLiteral("TEMP: 23.5\u2103"), 1000);
        board->setTemperature(-5.5);
        QTRY_COMPARE_WITH_TIMEOUT(text(label), QStringLiteral("TEMP: -5.5\u2103"), 4500);

        // Steady state: one heartbeat every 3 s.
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= 5, 7000);
        const QVector<qint64> beats = h.receivedTimes("~U");
        // The simulator shares this thread with the window, so a busy moment
        // of the test delays when one beat is seen; the mean must still be
        // the 3 s period.
        for (int i = 2; i < beats.size(); ++i) {
            const qint64 gap = beats[i] - beats[i - 1];
            QVERIFY2(gap >= 2700 && gap <= 3400, qPrintable(QString("gap %1 ms").arg(gap)));
        }
        const double mean = double(beats.last() - beats[1]) / (beats.size() - 2);
        QVERIFY2(mean >= 2950 && mean <= 3150, qPrintable(QString("mean gap %1 ms").arg(mean)));
        QCOMPARE(consoleCount("restart timer"), beats.size());

        // Unplugged: the next tick cannot open the port and forgets the board.
        board->unplug();
        QTRY_COMPARE_WITH_TIMEOUT(h.page1->property("wdg_type").toString(), QString(), 4500);
        QCOMPARE(h.page1->property("wdg_version").toString(), QStringLiteral("n/a"));
        QCOMPARE(h.page1->property("wdg_channel").toString(), QStringLiteral("n/a"));
        QCOMPARE(text(label), QStringLiteral("n/a"));
        QCOMPARE(text(Harness::control(h.page1, "label_info")),
                 QStringLiteral("Type: n/a, Version: n/a, Channels: n/a"));

        // Back on the same port: identified again, but not announced again.
        const int identifications = h.received("~I");
        const int inputReads = h.received("~G");
        QVERIFY(board->plug());
        QTRY_COMPARE_WITH_TIMEOUT(h.page1->property("wdg_type").toString(), QStringLiteral("U"),
                                  7000);
        QCOMPARE(h.received("~I"), identifications + 1);
        QCOMPARE(h.journalCount("Ostrel X2 v3.1U connected"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~G") > inputReads, 4500);
        QTRY_COMPARE_WITH_TIMEOUT(text(label), QStringLiteral("TEMP: -5.5\u2103"), 1000);
    }

    void lampAndTrayIconFollowEachExchange()
    {
        Harness h;
        BoardSimulator *board = h.addBoard(BoardSimulator::X2);
        QVERIFY(board);
        QVERIFY(h.load());
        auto *tray = qobject_cast<TrayIcon *>(h.tray);
        QObject *lamp = Harness::control(h.page1, "statusIndicator");
        QVERIFY(tray && lamp);

        QCOMPARE(tray->iconResource(), QStringLiteral("tovel3.png"));
        QCOMPARE(lamp->property("color").value<QColor>(), QColor("#2aff00"));
        QCOMPARE(lamp->property("active").toBool(), false);

        struct Event {
            qint64 ms;
            QString icon;
            QColor color;
            bool active;
        };
        QVector<Event> events;
        QObject::connect(tray, &TrayIcon::iconChanged, [&] {
            events.append({QDateTime::currentMSecsSinceEpoch(), tray->iconResource(),
                           lamp->property("color").value<QColor>(),
                           lamp->property("active").toBool()});
        });
        QVector<qint64> replies;
        QObject::connect(board, &BoardSimulator::replySent, [&](const QByteArray &bytes) {
            if (bytes.startsWith("~A"))
                replies << QDateTime::currentMSecsSinceEpoch();
        });

        // Past the handshake, then one full exchange.
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~G") >= 1, 8000);
        QTRY_COMPARE_WITH_TIMEOUT(tray->iconResource(), QStringLiteral("tovel3.png"), 2000);
        events.clear();
        replies.clear();
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~G") >= 2, 4500);
        QTRY_VERIFY_WITH_TIMEOUT(events.size() >= 3, 2000);

        QCOMPARE(events.size(), 3);
        QCOMPARE(replies.size(), 1);
        QCOMPARE(events[0].icon, QStringLiteral("tovel3_y.png"));
        QCOMPARE(events[0].color, QColor("#f8eb2d"));
        QVERIFY(events[0].active);
        QCOMPARE(events[1].icon, QStringLiteral("tovel3_g.png"));
        QCOMPARE(events[1].color, QColor("#2aff00"));
        QVERIFY(events[1].active);
        QCOMPARE(events[2].icon, QStringLiteral("tovel3.png"));
        QVERIFY(!events[2].active);
        const qint64 unlit = events[2].ms - replies[0];
        QVERIFY2(unlit >= 480 && unlit <= 800,
                 qPrintable(QString("unlit %1 ms after the reply").arg(unlit)));

        // A board that does not answer leaves the lamp yellow.
        board->setSilent(true);
        const int beats = h.received("~U");
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") > beats, 4500);
        QTest::qWait(1200);
        QCOMPARE(tray->iconResource(), QStringLiteral("tovel3_y.png"));
        QCOMPARE(lamp->property("color").value<QColor>(), QColor("#f8eb2d"));
        QVERIFY(lamp->property("active").toBool());
    }

    void identificationRecoversFromLostIdentityReplies()
    {
        Harness h;
        BoardSimulator *board = h.addBoard(BoardSimulator::X2);
        QVERIFY(board);
        // The board's answer to the first handshake never reaches the PC.
        bool dropped = false;
        QObject::connect(board, &BoardSimulator::commandReceived, [&](const QByteArray &c) {
            if (c == "~I" && !dropped) {
                dropped = true;
                board->setSilent(true);
                QTimer::singleShot(300, board, [board] { board->setSilent(false); });
            }
        });
        QVERIFY(h.load());
        QTRY_VERIFY_WITH_TIMEOUT(dropped, 5000);
        QCOMPARE(h.page1->property("wdg_type").toString(), QString());

        // The next acknowledged heartbeat identifies it, and it is still
        // announced once.
        QTRY_COMPARE_WITH_TIMEOUT(h.page1->property("wdg_type").toString(), QStringLiteral("U"),
                                  4500);
        QCOMPARE(h.received("~I"), 2);
        QCOMPARE(h.journalCount("Ostrel X2 v3.1U connected"), 1);

        // A re-identification whose answer went missing is tried again.
        h.page1->setProperty("wdg_type", QStringLiteral("upd"));
        QTRY_COMPARE_WITH_TIMEOUT(h.received("~I"), 3, 4500);
        QTRY_COMPARE_WITH_TIMEOUT(h.page1->property("wdg_type").toString(), QStringLiteral("U"),
                                  1000);
        QCOMPARE(h.journalCount("Ostrel X2 v3.1U connected"), 1);
    }

    void oneChannelBoardKeepsThePlainHeartbeat()
    {
        Harness h;
        BoardSimulator *board = h.addBoard(BoardSimulator::S2);
        QVERIFY(board);
        writeSettings({{"manualon", true}});
        QVERIFY(h.load());

        QTRY_COMPARE_WITH_TIMEOUT(h.page1->property("wdg_type").toString(), QStringLiteral("L"),
                                  6000);
        QCOMPARE(h.journalCount("Ostrel S2 v2.7L connected"), 1);
        QCOMPARE(h.page1->property("wdg_channel").toString(), QStringLiteral("1"));
        QVERIFY(Harness::control(h.page1, "remote_btn_m1")->property("enabled").toBool());
        QVERIFY(!Harness::control(h.page1, "remote_btn_m2")->property("enabled").toBool());
        QCOMPARE(text(Harness::control(h.page1, "label_info")),
                 QStringLiteral("Type: S, Version: 2.7, Channels: 1"));

        const int beats = h.received("~U");
        QTRY_VERIFY_WITH_TIMEOUT(h.received("~U") >= beats + 2, 7000);
        QCOMPARE(h.received("~G"), 0);
    }
};

TOVEL3_TEST_MAIN(TestHeartbeat)
#include "tst_heartbeat.moc"
