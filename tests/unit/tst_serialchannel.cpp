#include "boardsim/boardsimulator.h"
#include "device/serialchannel.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <time.h>

namespace
{
double processCpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Waits until the channel has emitted the expected text (possibly in pieces).
QString collect(QSignalSpy &spy, int expectedLength, int timeoutMs = 3000)
{
    QString text;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        while (!spy.isEmpty())
            text += spy.takeFirst().at(0).toString();
        if (text.size() >= expectedLength)
            break;
        spy.wait(50);
    }
    return text;
}
} // namespace

class TestSerialChannel : public QObject
{
    Q_OBJECT

private slots:
    void extraPorts_data();
    void extraPorts();
    void exchangeAndClose();
    void reopenSamePort();
    void failedOpenClearsName_data();
    void failedOpenClearsName();
    void secondChannelOnBusyPort();
    void receivedBytesAsLatin1_data();
    void receivedBytesAsLatin1();
    void vanishedDeviceDoesNotSpin();
    void deviceBackWhileStillOpen();

private:
    void openOn(SerialChannel &ch, BoardSimulator &board)
    {
        QVERIFY(board.start());
        QVERIFY(ch.open(board.portPath()));
    }
};

void TestSerialChannel::extraPorts_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QStringList>("added");
    QTest::newRow("unset") << QByteArray() << QString() << QStringList();
    QTest::newRow("one") << QByteArray("/tmp/board-a") << QString() << QStringList{"/tmp/board-a"};
    QTest::newRow("order kept") << QByteArray("/tmp/z:/tmp/a:/tmp/m") << QString()
                                << QStringList{"/tmp/z", "/tmp/a", "/tmp/m"};
    QTest::newRow("empties skipped")
        << QByteArray("::/tmp/a:::/tmp/b:") << QString() << QStringList{"/tmp/a", "/tmp/b"};
    QTest::newRow("duplicates once") << QByteArray("/tmp/a:/tmp/b:/tmp/a:/tmp/b") << QString()
                                     << QStringList{"/tmp/a", "/tmp/b"};
    QTest::newRow("only separators") << QByteArray(":::") << QString() << QStringList();
    QTest::newRow("setting") << QByteArray() << QString(" COM5, /tmp/b ,,COM5,")
                             << QStringList{"COM5", "/tmp/b"};
    QTest::newRow("setting first")
        << QByteArray("/tmp/b:/tmp/a") << QString("/tmp/a") << QStringList{"/tmp/a", "/tmp/b"};
}

void TestSerialChannel::extraPorts()
{
    QFETCH(QByteArray, variable);
    QFETCH(QString, setting);
    QFETCH(QStringList, added);
    qunsetenv("TOVEL3_EXTRA_PORTS");
    SerialChannel ch;
    const QStringList enumerated = ch.channels();
    for (const QString &name : enumerated)
        QVERIFY2(name != "COM1", "COM1 is never offered");
    if (!variable.isNull())
        qputenv("TOVEL3_EXTRA_PORTS", variable);
    ch.setExtraPorts(setting);
    const QStringList all = ch.channels();
    qunsetenv("TOVEL3_EXTRA_PORTS");
    QCOMPARE(all, enumerated + added);
}

void TestSerialChannel::exchangeAndClose()
{
    BoardSimulator board;
    SerialChannel ch;
    QSignalSpy data(&ch, &SerialChannel::dataReady);
    openOn(ch, board);
    QVERIFY(ch.isOpen());
    QCOMPARE(ch.name(), board.portPath());
    QCOMPARE(board.lineSettings(), QString("9600 8N1"));

    QVERIFY(ch.writeString("~U~G"));
    QCOMPARE(collect(data, 10), QString("~A\n~G0235\n"));
    QCOMPARE(board.receivedTexts(), (QList<QByteArray>{"~U", "~G"}));

    ch.close();
    QVERIFY(!ch.isOpen());
    QCOMPARE(ch.name(), board.portPath());
    QVERIFY(!ch.writeString("~U"));
    QTest::qWait(200);
    QCOMPARE(board.receivedTexts().size(), 2);

    // One open serves one exchange; the next open works the same way.
    QVERIFY(ch.open(board.portPath()));
    QVERIFY(ch.writeString("~L1~P0~I"));
    QCOMPARE(collect(data, 15), QString("~L1\n~P0\n~I3.1U\n"));
    ch.close();
    ch.close(); // a second close is harmless
    QVERIFY(!ch.isOpen());
}

void TestSerialChannel::reopenSamePort()
{
    BoardSimulator board;
    SerialChannel ch;
    QSignalSpy data(&ch, &SerialChannel::dataReady);
    openOn(ch, board);
    // Without the close at the start of open() the lock held by the first
    // open would make this fail.
    QVERIFY(ch.open(board.portPath()));
    QVERIFY(ch.isOpen());
    QCOMPARE(ch.name(), board.portPath());
    QVERIFY(ch.writeString("~U"));
    QCOMPARE(collect(data, 3), QString("~A\n"));
}

void TestSerialChannel::failedOpenClearsName_data()
{
    QTest::addColumn<QString>("bad");
    QTest::newRow("empty name") << QString("");
    QTest::newRow("missing device") << QString("/dev/tovel3-no-such-port");
    QTest::newRow("not a terminal") << QString("/proc/version");
}

void TestSerialChannel::failedOpenClearsName()
{
    QFETCH(QString, bad);
    BoardSimulator board;
    SerialChannel ch;
    openOn(ch, board);
    QVERIFY(!ch.open(bad));
    QVERIFY(!ch.isOpen());
    QCOMPARE(ch.name(), QString());
    QVERIFY(!ch.writeString("~U"));
}

void TestSerialChannel::secondChannelOnBusyPort()
{
    BoardSimulator board;
    SerialChannel first;
    SerialChannel second;
    openOn(first, board);
    QVERIFY(!second.open(board.portPath()));
    QVERIFY(second.name().isEmpty());
    first.close();
    QVERIFY(second.open(board.portPath()));
}

void TestSerialChannel::receivedBytesAsLatin1_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QByteArray("~A\n") << QString("~A\n");
    QTest::newRow("cut at NUL") << QByteArray("~A\0more\n", 8) << QString("~A");
    QTest::newRow("NUL first") << QByteArray("\0~A\n", 4) << QString("");
    QTest::newRow("high bytes") << QByteArray("~\xe9\xff\x80")
                                << QString::fromUtf16(u"~\u00e9\u00ff\u0080");
    QTest::newRow("invalid UTF-8") << QByteArray("\xc3\x28~A") << QString::fromUtf16(u"\u00c3(~A");
    QTest::newRow("UTF-8 stays bytes")
        << QByteArray("\xc3\xa9") << QString::fromUtf16(u"\u00c3\u00a9");
}

void TestSerialChannel::receivedBytesAsLatin1()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    BoardSimulator board;
    SerialChannel ch;
    QSignalSpy data(&ch, &SerialChannel::dataReady);
    openOn(ch, board);
    QTest::qWait(50); // the board notices its opener
    board.sendRaw(bytes);
    QVERIFY(data.wait(3000));
    QCOMPARE(data.size(), 1);
    QCOMPARE(data.at(0).at(0).toString(), text);
}

void TestSerialChannel::vanishedDeviceDoesNotSpin()
{
    BoardSimulator board;
    SerialChannel ch;
    QSignalSpy data(&ch, &SerialChannel::dataReady);
    openOn(ch, board);
    const QString path = board.portPath();

    board.unplug();
    const double cpuBefore = processCpuSeconds();
    QTest::qWait(1000);
    const double cpu = processCpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.3, qPrintable(QString::number(cpu)));

    QVERIFY(ch.isOpen());
    QVERIFY(!ch.isDeviceOpen());
    QCOMPARE(ch.name(), path);
    QVERIFY(!ch.writeString("~U"));
    QVERIFY(data.isEmpty());

    ch.close();
    QVERIFY(!ch.isOpen());
    QVERIFY(!ch.open(path)); // the device is still gone
    QVERIFY(board.plug());
    QVERIFY(ch.open(path));
    QVERIFY(ch.writeString("~U"));
    QCOMPARE(collect(data, 3), QString("~A\n"));
}

void TestSerialChannel::deviceBackWhileStillOpen()
{
    BoardSimulator board;
    SerialChannel ch;
    QSignalSpy data(&ch, &SerialChannel::dataReady);
    openOn(ch, board);
    board.unplug();
    QTest::qWait(100);
    QVERIFY(board.plug());
    // No close() in between: open() itself lets go of the old state.
    QVERIFY(ch.isOpen());
    QVERIFY(ch.open(board.portPath()));
    QVERIFY(ch.writeString("~U"));
    QCOMPARE(collect(data, 3), QString("~A\n"));
}

TOVEL3_TEST_MAIN(TestSerialChannel)
#include "tst_serialchannel.moc"
