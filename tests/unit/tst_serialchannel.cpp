#include "boardsim/boardsimulator.h"
#include "device/serialchannel.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
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

QStringList methodSignatures(const QMetaObject &mo)
{
    QStringList list;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        list << QString::fromLatin1(mo.method(i).methodSignature());
    return list;
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
    void baseChannelAnswersNothing();
    void metaObjectOrder();
    void paramKeys();
    void extraPorts_data();
    void extraPorts();
    void exchangeAndClose();
    void reopenSamePort();
    void failedOpenClearsName_data();
    void failedOpenClearsName();
    void secondChannelOnBusyPort();
    void receivedBytesAsLatin1_data();
    void receivedBytesAsLatin1();
    void readStringTakesPendingBytes();
    void parametersOnPseudoTerminal();
    void vanishedDeviceDoesNotSpin();
    void deviceBackWhileStillOpen();

private:
    void openOn(SerialChannel &ch, BoardSimulator &board)
    {
        QVERIFY(board.start());
        QVERIFY(ch.open(board.portPath()));
    }
};

void TestSerialChannel::baseChannelAnswersNothing()
{
    Channel ch;
    QVERIFY(ch.channels().isEmpty());
    QVERIFY(!ch.open("/dev/null"));
    QVERIFY(!ch.isOpen());
    ch.close();
    QVERIFY(ch.name().isEmpty());
    QVERIFY(ch.params().isEmpty());
    QVERIFY(ch.param("baud").isEmpty());
    QVERIFY(!ch.paramSet("baud", "9600"));
    QVERIFY(ch.readString().isNull());
    QVERIFY(!ch.writeString("~U"));
}

void TestSerialChannel::metaObjectOrder()
{
    const QStringList base = {"channels()",     "open(QString)",
                              "close()",        "isOpen()",
                              "name()",         "params()",
                              "param(QString)", "paramSet(QString,QString)",
                              "readString()",   "writeString(QString)"};
    QCOMPARE(methodSignatures(Channel::staticMetaObject), base);

    const QMetaObject &mo = SerialChannel::staticMetaObject;
    const QStringList serial = {"dataReady(QString)",
                                "portReadyRead()",
                                "channels()",
                                "open(QString)",
                                "close()",
                                "isOpen()",
                                "name()",
                                "param(QString)",
                                "paramSet(QString,QString)",
                                "readString()",
                                "writeString(QString)"};
    QCOMPARE(methodSignatures(mo), serial);
    const int first = mo.methodOffset();
    QCOMPARE(mo.method(first).methodType(), QMetaMethod::Signal);
    QCOMPARE(mo.method(first + 1).access(), QMetaMethod::Protected);
    QCOMPARE(mo.method(first + 2).access(), QMetaMethod::Public);
    QCOMPARE(mo.method(first).parameterNames(), QList<QByteArray>{"data"});
    QCOMPARE(mo.method(first + 3).parameterNames(), QList<QByteArray>{"name"});
    QCOMPARE(mo.method(first + 8).parameterNames(), (QList<QByteArray>{"name", "value"}));
    QCOMPARE(mo.method(first + 10).parameterNames(), QList<QByteArray>{"s"});
    QVERIFY(mo.indexOfMethod("params()") >= 0);
}

void TestSerialChannel::paramKeys()
{
    const QStringList keys = {"baud", "bauds", "bits", "parity", "stops", "rts",
                              "cts",  "dtr",   "dsr",  "dcd",    "ri"};
    SerialChannel ch;
    QCOMPARE(ch.params(), keys);
    BoardSimulator board;
    openOn(ch, board);
    QCOMPARE(ch.params(), keys);
}

void TestSerialChannel::extraPorts_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QStringList>("added");
    QTest::newRow("unset") << QByteArray() << QStringList();
    QTest::newRow("one") << QByteArray("/tmp/board-a") << QStringList{"/tmp/board-a"};
    QTest::newRow("order kept") << QByteArray("/tmp/z:/tmp/a:/tmp/m")
                                << QStringList{"/tmp/z", "/tmp/a", "/tmp/m"};
    QTest::newRow("empties skipped")
        << QByteArray("::/tmp/a:::/tmp/b:") << QStringList{"/tmp/a", "/tmp/b"};
    QTest::newRow("duplicates once")
        << QByteArray("/tmp/a:/tmp/b:/tmp/a:/tmp/b") << QStringList{"/tmp/a", "/tmp/b"};
    QTest::newRow("only separators") << QByteArray(":::") << QStringList();
}

void TestSerialChannel::extraPorts()
{
    QFETCH(QByteArray, variable);
    QFETCH(QStringList, added);
    qunsetenv("TOVEL3_EXTRA_PORTS");
    SerialChannel ch;
    const QStringList enumerated = ch.channels();
    for (const QString &name : enumerated)
        QVERIFY2(name != "COM1", "COM1 is never offered");
    if (!variable.isNull())
        qputenv("TOVEL3_EXTRA_PORTS", variable);
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

    QVERIFY(ch.writeString("~U~G"));
    QCOMPARE(collect(data, 10), QString("~A\n~G0235\n"));
    QCOMPARE(board.receivedTexts(), (QList<QByteArray>{"~U", "~G"}));

    ch.close();
    QVERIFY(!ch.isOpen());
    QCOMPARE(ch.name(), board.portPath());
    QVERIFY(!ch.writeString("~U"));
    QVERIFY(ch.readString().isNull());
    QVERIFY(ch.param("baud").isEmpty());
    QVERIFY(!ch.paramSet("baud", "9600"));
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

void TestSerialChannel::readStringTakesPendingBytes()
{
    BoardSimulator board;
    SerialChannel ch;
    QSignalSpy data(&ch, &SerialChannel::dataReady);
    openOn(ch, board);
    QVERIFY(ch.readString().isEmpty());

    // Taken before the event loop could notice the bytes.
    QTest::qWait(50); // the board notices its opener
    board.sendRaw(QByteArray("~L1\n\0tail", 9));
    QString text;
    QElapsedTimer t;
    t.start();
    while (text.isEmpty() && t.elapsed() < 3000) {
        QThread::msleep(10);
        text = ch.readString();
    }
    QCOMPARE(text, QString("~L1\n"));
    QTest::qWait(50);
    QCOMPARE(data.size(), 0);
}

void TestSerialChannel::parametersOnPseudoTerminal()
{
    BoardSimulator board;
    SerialChannel ch;
    openOn(ch, board);
    // The port opens at 9600 baud, 8 data bits, no parity, one stop bit.
    QCOMPARE(ch.param("baud"), QString("9600"));
    QCOMPARE(ch.param("bits"), QString("8"));
    QCOMPARE(ch.param("parity"), QString("n"));
    QCOMPARE(ch.param("stops"), QString("1"));
    QCOMPARE(ch.param("bauds"), QString());
    QCOMPARE(ch.param("Baud"), QString());
    QCOMPARE(ch.param("nonsense"), QString());
    // A pseudo-terminal has no modem lines: the queries answer 0, and the
    // two outputs cannot be set.
    for (const char *key : {"rts", "cts", "dtr", "dsr", "dcd", "ri"})
        QCOMPARE(ch.param(key), QString("0"));
    for (const char *key : {"bauds", "cts", "dsr", "dcd", "ri", "nonsense", "BAUD", "rts", "dtr"})
        QVERIFY2(!ch.paramSet(key, "1"), key);

    QVERIFY(ch.paramSet("baud", "19200"));
    QCOMPARE(ch.param("baud"), QString("19200"));
    QVERIFY(!ch.paramSet("baud", "fast")); // unparsable numbers count as 0
    QCOMPARE(ch.param("baud"), QString("19200"));
    QVERIFY(ch.paramSet("stops", "2"));
    QCOMPARE(ch.param("stops"), QString("2"));
    QVERIFY(!ch.paramSet("stops", "3"));
    // A change counts only when the device took it: a pseudo-terminal keeps
    // 8 data bits and no parity. Parity goes by the first letter alone.
    QVERIFY(!ch.paramSet("bits", "5"));
    QCOMPARE(ch.param("bits"), QString("8"));
    for (const char *parity : {"n", "none", "ne"})
        QVERIFY2(ch.paramSet("parity", parity), parity);
    for (const char *parity : {"even", "odd", "mark", "space", "Even", "", "x"})
        QVERIFY2(!ch.paramSet("parity", parity), parity);
    QCOMPARE(ch.param("parity"), QString("n"));
    ch.close();
    QCOMPARE(ch.param("baud"), QString());
    QVERIFY(!ch.paramSet("baud", "9600"));
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
