// The engine on its own thread: a GUI thread that blocks does not delay a
// heartbeat, the real period is 3 s, settings changed on the GUI thread reach
// the cycle, the port and the switches the board settles on are stored, and
// the views' copies follow the engine.
#include "boardsim/boardsimulator.h"
#include "device/board.h"
#include "engine.h"
#include "monitor/heartbeat.h"
#include "storage/appsettings.h"
#include "storage/journal.h"
#include "support/testenvironment.h"
#include "window/objectmirror.h"

#include <QApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

namespace
{
// A simulated board served by a thread of its own, so that it keeps
// answering and time-stamping while the test's thread is blocked.
class BoardThread
{
public:
    explicit BoardThread(const QString &link)
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        run([this, link] {
            m_board = new BoardSimulator(BoardSimulator::X2);
            m_started = m_board->start(link);
        });
    }
    ~BoardThread()
    {
        run([this] { delete m_board; });
        m_thread.quit();
        m_thread.wait();
    }
    bool started() const { return m_started; }
    // Arrival times of one command, in milliseconds since the epoch.
    QVector<qint64> times(const QByteArray &text)
    {
        QVector<qint64> out;
        run([&] {
            for (const BoardSimulator::Command &c : m_board->received())
                if (c.text == text)
                    out << c.msecs;
        });
        return out;
    }

private:
    template <typename F> void run(F f)
    {
        QMetaObject::invokeMethod(&m_context, f, Qt::BlockingQueuedConnection);
    }
    QThread m_thread;
    QObject m_context;
    BoardSimulator *m_board = nullptr;
    bool m_started = false;
};

template <typename R, typename F> R onEngine(Engine &w, F f)
{
    R result{};
    QMetaObject::invokeMethod(
        w.board(), [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}
} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    Journal m_journal;

private slots:
    void init()
    {
        QSettings().clear();
        QSettings().sync();
        qunsetenv("TOVEL3_EXTRA_PORTS");
        qunsetenv("TOVEL3_CYCLE_MS");
    }

    void blockedGuiThreadDelaysNoHeartbeat()
    {
        // Beside the engine under test, one left at the real period, with a
        // board and a journal of its own: its heartbeats come meanwhile.
        const QString realLink = m_dir.path() + "/real";
        BoardThread realBoard(realLink);
        QVERIFY(realBoard.started());
        qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(realLink));
        AppSettings realSettings;
        Journal realJournal;
        Engine real(&realSettings, &realJournal, Engine::OwnThread);
        const qint64 realStart = QDateTime::currentMSecsSinceEpoch();
        real.start();
        QTRY_COMPARE(realSettings.port(), realLink);

        const QString link = m_dir.path() + "/board";
        BoardThread board(link);
        QVERIFY(board.started());
        qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(link));

        AppSettings settings;
        settings.setPort(link); // not the one the other engine saved and holds
        Engine watchdog(&settings, &m_journal, Engine::OwnThread);
        const int interval = 500;
        watchdog.heartbeat()->setInterval(interval);
        watchdog.start();
        QTRY_VERIFY_WITH_TIMEOUT(board.times("~U").size() >= 2, 5000);

        const qint64 blockStart = QDateTime::currentMSecsSinceEpoch();
        QThread::sleep(7); // the GUI thread is busy: a long layout, a slow dialog
        const qint64 blockEnd = QDateTime::currentMSecsSinceEpoch();

        const QVector<qint64> beats = board.times("~U");
        QVector<qint64> during;
        for (qint64 t : beats)
            if (t > blockStart && t < blockEnd)
                during << t;
        QVERIFY2(during.size() >= 12, qPrintable(QString::number(during.size())));
        qint64 worst = 0;
        for (int i = 1; i < during.size(); ++i)
            worst = qMax(worst, during[i] - during[i - 1]);
        QVERIFY2(worst < interval + 150, qPrintable(QStringLiteral("gap %1 ms").arg(worst)));
        // The board's answers were taken and counted on the engine's thread.
        Heartbeat *hb = watchdog.heartbeat();
        const auto counts = onEngine<QPair<int, int>>(
            watchdog, [hb] { return qMakePair(hb->heartbeatsSent(), hb->acksReceived()); });
        QVERIFY2(
            counts.first >= during.size() && counts.second >= counts.first - 1,
            qPrintable(
                QStringLiteral("%1 sent, %2 acknowledged").arg(counts.first).arg(counts.second)));

        // The real period: the first heartbeat 3 s after the start, the next
        // 3 s later.
        const QVector<qint64> slow = realBoard.times("~U");
        QVERIFY2(slow.size() >= 2, qPrintable(QString::number(slow.size())));
        QVERIFY2(slow[0] - realStart >= 2700,
                 qPrintable(QStringLiteral("first after %1 ms").arg(slow[0] - realStart)));
        for (int i = 1; i < slow.size(); ++i) {
            const qint64 gap = slow[i] - slow[i - 1];
            QVERIFY2(gap >= 2700 && gap <= 3300, qPrintable(QStringLiteral("gap %1 ms").arg(gap)));
        }
    }

    void settingsChangedOnTheGuiThreadReachTheCycle_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("ping address") << "ping/url" << QVariant("127.0.0.2")
                                      << QByteArray("networkTarget") << QVariant("127.0.0.2");
        QTest::newRow("ping timeout")
            << "ping/timeout" << QVariant(700) << QByteArray("pingTimeout") << QVariant(700);
        QTest::newRow("process name")
            << "monitor" << QVariant(" sshd ") << QByteArray("processName") << QVariant("sshd");
        QTest::newRow("process owner") << "monitorowner" << QVariant("nobody")
                                       << QByteArray("processOwner") << QVariant("nobody");
        QTest::newRow("process check")
            << "monitoron" << QVariant(true) << QByteArray("processCheck") << QVariant(true);
        QTest::newRow("network log")
            << "logging/network" << QVariant(true) << QByteArray("logNetwork") << QVariant(true);
        QTest::newRow("process log")
            << "logging/process" << QVariant(true) << QByteArray("logProcess") << QVariant(true);
        // The journal follows its own settings, not the page.
        QTest::newRow("journal on")
            << "logging/enable" << QVariant(true) << QByteArray("journal.pause") << QVariant(false);
        QTest::newRow("journal size")
            << "logging/size" << QVariant(5) << QByteArray("journal.size") << QVariant(5242880ULL);
        QTest::newRow("journal backups")
            << "logging/count" << QVariant(9) << QByteArray("journal.backups") << QVariant(9U);
    }

    void settingsChangedOnTheGuiThreadReachTheCycle()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, expected);

        AppSettings settings;
        m_journal.setPaused(true);
        Engine watchdog(&settings, &m_journal, Engine::OwnThread);
        watchdog.start();
        const QMetaEnum keys = QMetaEnum::fromType<AppSettings::Key>();
        for (int i = 0; i < keys.keyCount(); ++i) {
            const auto k = AppSettings::Key(keys.value(i));
            if (AppSettings::keyName(k) == key)
                QVERIFY(settings.setValue(k, value));
        }
        if (property.startsWith("journal.")) {
            const QHash<QByteArray, std::function<QVariant()>> journal{
                {"journal.pause", [this] { return QVariant(m_journal.isPaused()); }},
                {"journal.size", [this] { return QVariant(m_journal.getMaxSize()); }},
                {"journal.backups", [this] { return QVariant(m_journal.getBackupCount()); }}};
            QTRY_COMPARE(journal.value(property)(), expected);
            return;
        }
        Heartbeat *heartbeat = watchdog.heartbeat();
        QTRY_COMPARE(onEngine<QVariant>(watchdog, [&] { return heartbeat->property(property); }),
                     expected);
    }

    // The test hook can only make the cycle faster, never slow a heartbeat.
    void cycleHookOnlyShortens_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("interval");
        QTest::newRow("shorter") << QByteArray("750") << 750;
        QTest::newRow("fifteen minutes") << QByteArray("900000") << Heartbeat::defaultInterval;
        QTest::newRow("just above the period") << QByteArray("3001") << Heartbeat::defaultInterval;
        QTest::newRow("flooding the board") << QByteArray("5") << Engine::minimumTestCycleMs;
        QTest::newRow("zero") << QByteArray("0") << Heartbeat::defaultInterval;
        QTest::newRow("not a number") << QByteArray("soon") << Heartbeat::defaultInterval;
    }

    void cycleHookOnlyShortens()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, interval);
        qputenv("TOVEL3_CYCLE_MS", value);
        AppSettings settings;
        Engine watchdog(&settings, &m_journal, Engine::CallerThread);
        QCOMPARE(watchdog.heartbeat()->interval(), interval);
    }

    void networkCheckNeedsAnAddress()
    {
        AppSettings settings;
        settings.setPingAddress(QStringLiteral("127.0.0.1"));
        settings.setPingEnabled(true);
        Engine watchdog(&settings, &m_journal, Engine::OwnThread);
        watchdog.start();
        Heartbeat *heartbeat = watchdog.heartbeat();
        QVERIFY(onEngine<bool>(watchdog, [&] { return heartbeat->networkCheck(); }));
        settings.setPingAddress(QStringLiteral("  "));
        QTRY_VERIFY(!onEngine<bool>(watchdog, [&] { return heartbeat->networkCheck(); }));
    }

    void portAndSwitchesTheBoardSettlesOnAreStoredAndMirrored()
    {
        const QString link = m_dir.path() + "/board2";
        BoardThread board(link);
        QVERIFY(board.started());
        qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(link));

        AppSettings settings;
        Engine watchdog(&settings, &m_journal, Engine::OwnThread);
        watchdog.heartbeat()->setInterval(200);
        ObjectMirror board2(watchdog.board());
        ObjectMirror beat(watchdog.heartbeat());
        QSignalSpy changes(&beat, &QQmlPropertyMap::valueChanged);
        watchdog.start();

        QTRY_COMPARE(settings.port(), link);
        QTRY_COMPARE(board2.value("port").toString(), link);
        // Identified, with the model's name as the journal writes it.
        QTRY_COMPARE_WITH_TIMEOUT(board2.value("model").toString(), QString("Ostrel X2"), 5000);
        QTRY_VERIFY(beat.value("heartbeatsSent").toInt() >= 2);
        // Enumerations reach the views as numbers.
        QTRY_VERIFY(beat.value("lamp").userType() == QMetaType::Int);
        QVERIFY(!changes.isEmpty());

        // The board's answers to the handshake keep nothing; the switches it
        // confirms are kept, whoever asked for them.
        QVERIFY(!settings.contains(AppSettings::Key::LedOff));
        QVERIFY(!settings.contains(AppSettings::Key::TimerSuspended));
        Board *b = watchdog.board();
        QVERIFY(
            onEngine<bool>(watchdog, [b] { return b->setLed(false) && b->setSuspended(true); }));
        QTRY_VERIFY(settings.ledOff());
        QTRY_VERIFY(settings.timerSuspended());
        QTRY_VERIFY(!board2.value("led").toBool());
    }
};

TOVEL3_TEST_MAIN(TestEngine)
#include "tst_engine.moc"
