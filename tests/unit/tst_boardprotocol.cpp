// The board protocol without a port: every command's bytes, every reply form,
// the model table, the settings lists and the reply framer.
// Runs on Windows too.

#include "device/boardprotocol.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QtTest>

using namespace BoardProtocol;

Q_DECLARE_METATYPE(BoardSettings::Form)

namespace
{
BoardSettings longSettings(std::initializer_list<int> values)
{
    BoardSettings s;
    s.form = BoardSettings::Long;
    int i = 0;
    for (int v : values)
        s.setField(i++, v);
    return s;
}

const BoardModel *x2()
{
    return modelForLetter('U');
}

const BoardModel *s2()
{
    return modelForLetter('L');
}
} // namespace

class TestBoardProtocol : public QObject
{
    Q_OBJECT

private slots:
    void commands_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");

        BoardSettings shortForm;
        shortForm.form = BoardSettings::Short;
        shortForm.t1 = 5;
        shortForm.t2 = 15;

        QTest::newRow("heartbeat X2") << heartbeat(x2()) << QByteArray("~U~G");
        QTest::newRow("heartbeat S2") << heartbeat(s2()) << QByteArray("~U");
        QTest::newRow("heartbeat unknown") << heartbeat(nullptr) << QByteArray("~U");
        QTest::newRow("handshake") << handshake(true, false) << QByteArray("~L1~P0");
        QTest::newRow("handshake led off, suspended")
            << handshake(false, true) << QByteArray("~L0~P1");
        QTest::newRow("led on") << led(true) << QByteArray("~L1");
        QTest::newRow("led off") << led(false) << QByteArray("~L0");
        QTest::newRow("suspend") << suspend(true) << QByteArray("~P1");
        QTest::newRow("run") << suspend(false) << QByteArray("~P0");
        QTest::newRow("test reset") << testReset() << QByteArray("~T1");
        QTest::newRow("test power") << testPower() << QByteArray("~T2");
        QTest::newRow("remote reset X2") << remoteReset(x2()) << QByteArray("~M1");
        QTest::newRow("remote reset S2") << remoteReset(s2()) << QByteArray("~T1");
        QTest::newRow("remote reset unknown") << remoteReset(nullptr) << QByteArray("~T1");
        QTest::newRow("close 1") << channel(1, true) << QByteArray("~S1");
        QTest::newRow("open 2") << channel(2, false) << QByteArray("~R2");
        QTest::newRow("identify") << identify() << QByteArray("~I");
        QTest::newRow("read settings") << readSettings() << QByteArray("~F");
        QTest::newRow("write long")
            << writeSettings(longSettings({5, 2, 4, 2, 5, 1, 2, 10, 3, 125}))
            << QByteArray("~W5242512A37d");
        QTest::newRow("write long, indices out of a digit")
            << writeSettings(longSettings({16, -1, 15, 0, 0, 0, 0, 0, 0, 5}))
            << QByteArray("~W00F00000005");
        QTest::newRow("write short") << writeSettings(shortForm) << QByteArray("~W5F");
        QTest::newRow("compatibility t1 12") << legacyWrite(12, false) << QByteArray("~W9\n");
        QTest::newRow("compatibility t1 3, identify")
            << legacyWrite(3, true) << QByteArray("~W3\n~I");
        QTest::newRow("compatibility no t1") << legacyWrite(-1, false) << QByteArray("~W0\n");
        QTest::newRow("firmware update") << firmwareUpdate() << QByteArray("~D");
    }

    void commands()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes, expected);
    }

    // A model by its type letter; the compatibility row never by one.
    void models()
    {
        for (const BoardModel &m : BoardProtocol::models()) {
            if (!m.compatibility)
                QCOMPARE(modelForLetter(m.letter), &m);
        }
        QCOMPARE(x2()->name, QStringLiteral("Ostrel X2"));
        QCOMPARE(s2()->name, QStringLiteral("Ostrel S2"));
        QVERIFY(!modelForLetter('S'));
        QVERIFY(!modelForLetter(0));
        QVERIFY(compatibilityModel().compatibility);
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("piece");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("channel");

        QTest::newRow("ack") << QByteArray("~A") << int(Reply::Ack) << false << 0;
        QTest::newRow("ack with more") << QByteArray("~Axy") << int(Reply::Ack) << false << 0;
        QTest::newRow("empty") << QByteArray() << int(Reply::Ignored) << false << 0;
        QTest::newRow("tilde only") << QByteArray("~") << int(Reply::Ignored) << false << 0;
        QTest::newRow("no tilde") << QByteArray("A~A") << int(Reply::Ignored) << false << 0;
        QTest::newRow("carriage return") << QByteArray("\r~A") << int(Reply::Ignored) << false << 0;
        QTest::newRow("led on") << QByteArray("~L1") << int(Reply::Led) << true << 0;
        QTest::newRow("led off") << QByteArray("~L0") << int(Reply::Led) << false << 0;
        QTest::newRow("led other") << QByteArray("~Lx") << int(Reply::Ignored) << false << 0;
        QTest::newRow("led bare") << QByteArray("~L") << int(Reply::Ignored) << false << 0;
        QTest::newRow("suspended") << QByteArray("~P1") << int(Reply::Suspend) << true << 0;
        QTest::newRow("running") << QByteArray("~P0") << int(Reply::Suspend) << false << 0;
        QTest::newRow("closed 1") << QByteArray("~S1") << int(Reply::ChannelClosed) << false << 1;
        QTest::newRow("closed 2") << QByteArray("~S2") << int(Reply::ChannelClosed) << false << 2;
        QTest::newRow("opened 1") << QByteArray("~R1") << int(Reply::ChannelOpened) << false << 1;
        QTest::newRow("opened 2") << QByteArray("~R2") << int(Reply::ChannelOpened) << false << 2;
        QTest::newRow("channel 3") << QByteArray("~S3") << int(Reply::Ignored) << false << 0;
        QTest::newRow("channel 0") << QByteArray("~R0") << int(Reply::Ignored) << false << 0;
        QTest::newRow("channel bare") << QByteArray("~S") << int(Reply::Ignored) << false << 0;
        QTest::newRow("identity") << QByteArray("~I3.1U") << int(Reply::Identity) << false << 0;
        QTest::newRow("short identity") << QByteArray("~I3.1") << int(Reply::Ignored) << false << 0;
        QTest::newRow("bare identity") << QByteArray("~I") << int(Reply::Ignored) << false << 0;
        QTest::newRow("input") << QByteArray("~G0235") << int(Reply::Input) << false << 0;
        QTest::newRow("settings") << QByteArray("~F52") << int(Reply::Settings) << false << 0;
        QTest::newRow("test reset echo") << QByteArray("~T1") << int(Reply::Ignored) << false << 0;
        QTest::newRow("remote power echo")
            << QByteArray("~M2") << int(Reply::Ignored) << false << 0;
        QTest::newRow("other letter") << QByteArray("~Q1") << int(Reply::Ignored) << false << 0;
        QTest::newRow("lower case") << QByteArray("~a") << int(Reply::Ignored) << false << 0;
    }

    void replies()
    {
        QFETCH(QByteArray, piece);
        QFETCH(int, kind);
        QFETCH(bool, on);
        QFETCH(int, channel);
        const Reply r = parseReply(piece);
        QCOMPARE(int(r.kind), kind);
        QCOMPARE(r.on, on);
        QCOMPARE(r.channel, channel);
    }

    void settingsReplies_data()
    {
        QTest::addColumn<QByteArray>("piece");
        QTest::addColumn<BoardSettings::Form>("form");
        // t1 t2 t3 t4 t5 CH1 CH2 limit IN threshold; -1 = none / keep
        QTest::addColumn<QVector<int>>("fields");

        QTest::newRow("two-channel, mixed case")
            << QByteArray("~F5242512A37d") << BoardSettings::Long
            << QVector<int>{5, 2, 4, 2, 5, 1, 2, 10, 3, 125};
        QTest::newRow("two-channel default") << QByteArray("~F52425120346") << BoardSettings::Long
                                             << QVector<int>{5, 2, 4, 2, 5, 1, 2, 0, 3, 70};
        QTest::newRow("t3 digit C") << QByteArray("~F52C2512A37d") << BoardSettings::Long
                                    << QVector<int>{5, 2, 10, 2, 5, 1, 2, 10, 3, 125};
        QTest::newRow("t3 digit F") << QByteArray("~F52F2512A37D") << BoardSettings::Long
                                    << QVector<int>{5, 2, 10, 2, 5, 1, 2, 10, 3, 125};
        QTest::newRow("t3 digit B") << QByteArray("~F52B2512A37d") << BoardSettings::Long
                                    << QVector<int>{5, 2, 11, 2, 5, 1, 2, 10, 3, 125};
        QTest::newRow("threshold above 125") << QByteArray("~Ff0000000aff") << BoardSettings::Long
                                             << QVector<int>{15, 0, 0, 0, 0, 0, 0, 0, 10, 125};
        QTest::newRow("not hexadecimal") << QByteArray("~F5x425120346") << BoardSettings::Long
                                         << QVector<int>{5, -1, 4, 2, 5, 1, 2, 0, 3, 70};
        QTest::newRow("threshold not hexadecimal")
            << QByteArray("~F5242512034g") << BoardSettings::Long
            << QVector<int>{5, 2, 4, 2, 5, 1, 2, 0, 3, -1};
        QTest::newRow("one-channel") << QByteArray("~F52") << BoardSettings::Short
                                     << QVector<int>{5, 2, -1, -1, -1, 1, -1, -1, -1, -1};
        QTest::newRow("one-channel lower case")
            << QByteArray("~Fab") << BoardSettings::Short
            << QVector<int>{10, 11, -1, -1, -1, 1, -1, -1, -1, -1};
        QTest::newRow("five characters")
            << QByteArray("~F123") << BoardSettings::Invalid << QVector<int>(10, -1);
        QTest::newRow("bare") << QByteArray("~F") << BoardSettings::Invalid << QVector<int>(10, -1);
        QTest::newRow("fourteen characters")
            << QByteArray("~F5242512A37d0") << BoardSettings::Invalid << QVector<int>(10, -1);
    }

    void settingsReplies()
    {
        QFETCH(QByteArray, piece);
        QFETCH(BoardSettings::Form, form);
        QFETCH(QVector<int>, fields);
        const Reply r = parseReply(piece);
        QCOMPARE(r.kind, Reply::Settings);
        QCOMPARE(r.settings.form, form);
        for (int i = 0; i < BoardSettings::FieldCount; ++i)
            QCOMPARE(r.settings.field(i), fields[i]);
        // A long reply written back gives the same digits, in upper case.
        if (form == BoardSettings::Long && !fields.contains(-1) && fields[2] != 10 &&
            piece.mid(11).toInt(nullptr, 16) == fields[9])
            QCOMPARE(writeSettings(r.settings).mid(2).toUpper(), piece.mid(2).toUpper());
    }

    void identities_data()
    {
        QTest::addColumn<QByteArray>("piece");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("model");

        QTest::newRow("X2") << QByteArray("~I3.1U") << "3.1"
                            << "3.1U"
                            << "Ostrel X2";
        QTest::newRow("S2") << QByteArray("~I2.7L") << "2.7"
                            << "2.7L"
                            << "Ostrel S2";
        QTest::newRow("unknown letter") << QByteArray("~I1.0Q") << "1.0"
                                        << "1.0Q" << QString();
        QTest::newRow("longer") << QByteArray("~I12345678U") << "123"
                                << "1234" << QString();
    }

    void identities()
    {
        QFETCH(QByteArray, piece);
        QFETCH(QString, version);
        QFETCH(QString, text);
        QFETCH(QString, model);
        const Reply r = parseReply(piece);
        QCOMPARE(r.kind, Reply::Identity);
        QCOMPARE(r.identity.version, version);
        QCOMPARE(r.identity.text(), text);
        const BoardModel *m = modelForLetter(r.identity.letter);
        QCOMPARE(m ? m->name : QString(), model);
    }

    void inputReadings_data()
    {
        QTest::addColumn<QByteArray>("piece");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("value"); // level, or degrees

        QTest::newRow("23.5") << QByteArray("~G0235") << int(InputReading::Temperature) << "23.5";
        QTest::newRow("23") << QByteArray("~G0230") << int(InputReading::Temperature) << "23";
        QTest::newRow("-5.5") << QByteArray("~G-055") << int(InputReading::Temperature) << "-5.5";
        QTest::newRow("digits then junk")
            << QByteArray("~G12x4") << int(InputReading::Temperature) << "1.2";
        QTest::newRow("sensor error") << QByteArray("~GE000") << int(InputReading::None) << "";
        QTest::newRow("input off") << QByteArray("~GF000") << int(InputReading::None) << "";
        QTest::newRow("not a number") << QByteArray("~Gxyzw") << int(InputReading::None) << "";
        QTest::newRow("bare") << QByteArray("~G") << int(InputReading::None) << "";
        QTest::newRow("input high") << QByteArray("~GI001") << int(InputReading::Input) << "1";
        QTest::newRow("output low") << QByteArray("~GO000") << int(InputReading::Output) << "0";
    }

    void inputReadings()
    {
        QFETCH(QByteArray, piece);
        QFETCH(int, kind);
        QFETCH(QString, value);
        const Reply r = parseReply(piece);
        QCOMPARE(r.kind, Reply::Input);
        QCOMPARE(int(r.input.kind), kind);
        if (kind == InputReading::Temperature)
            QCOMPARE(r.input.temperatureText(), value);
        else if (kind != InputReading::None)
            QCOMPARE(QString(QLatin1Char(r.input.level)), value);
    }

    void settingsLists_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("count"); // choices; 0 for the plain number
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index");

        QTest::newRow("t1") << 0 << 16 << "15 min"
                            << "10min" << 10;
        QTest::newRow("t1 spaced") << 0 << 16 << "15 min"
                                   << "10 MIN" << 10;
        QTest::newRow("t1 no unit") << 0 << 16 << "15 min"
                                    << "7" << 7;
        QTest::newRow("t1 too long") << 0 << 16 << "15 min"
                                     << "16min" << -1;
        QTest::newRow("t2") << 1 << 16 << "1500 ms"
                            << "1500ms" << 15;
        QTest::newRow("t2 off the step") << 1 << 16 << "1500 ms"
                                         << "150ms" << -1;
        QTest::newRow("t3") << 2 << 11 << "10 s"
                            << "10s" << 10;
        QTest::newRow("t3 beyond") << 2 << 11 << "10 s"
                                   << "11s" << -1;
        QTest::newRow("t4") << 3 << 16 << "15 s"
                            << "0s" << 0;
        QTest::newRow("t5") << 4 << 16 << "1500 ms"
                            << "300 ms" << 3;
        QTest::newRow("CH1") << 5 << 5 << "OUT CLOSED"
                             << "reset" << 1;
        QTest::newRow("CH2") << 6 << 5 << "OUT CLOSED"
                             << "out-opened" << 3;
        QTest::newRow("limit") << 7 << 16 << "15"
                               << "15" << 15;
        QTest::newRow("IN") << 8 << 4 << "TEMP"
                            << "Output" << 2;
        QTest::newRow("threshold") << 9 << 0 << ""
                                   << "125" << 125;
        QTest::newRow("threshold too high") << 9 << 0 << ""
                                            << "126" << -1;
        QTest::newRow("empty") << 0 << 16 << "15 min" << QString() << -1;
    }

    void settingsLists()
    {
        QFETCH(int, field);
        QFETCH(int, count);
        QFETCH(QString, last);
        QFETCH(QString, text);
        QFETCH(int, index);
        QCOMPARE(settingsFields().size(), BoardSettings::FieldCount);
        const SettingsField &f = settingsFields().at(field);
        QCOMPARE(f.choices.size(), count);
        if (count)
            QCOMPARE(f.choices.last().text(), last);
        QCOMPARE(choiceIndex(field, text), index);
    }

    void framer_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QByteArray>("tail");

        const QByteArray garbage(ReplyFramer::MaxBuffer + 10, 'x');
        const QByteArray half(ReplyFramer::MaxBuffer / 2 + 10, 'x');
        using List = QList<QByteArray>;

        QTest::newRow("one") << List{"~A\n"} << List{"~A"} << QByteArray();
        QTest::newRow("split") << List{"~I3.", "1U\n"} << List{"~I3.1U"} << QByteArray();
        QTest::newRow("split at the end") << List{"~A", "\n"} << List{"~A"} << QByteArray();
        QTest::newRow("merged") << List{"~A\n~GI001\n"} << List{"~A", "~GI001"} << QByteArray();
        QTest::newRow("merged and split")
            << List{"~A\n~F52", "4\n~L1\n~P"} << List{"~A", "~F524", "~L1"} << QByteArray("~P");
        QTest::newRow("empty lines") << List{"\n\n~A\n\n"} << List{"~A"} << QByteArray();
        QTest::newRow("unterminated") << List{"~A\n~F52"} << List{"~A"} << QByteArray("~F52");
        QTest::newRow("over-long run dropped")
            << List{garbage + "~A\n~L1\n"} << List{"~L1"} << QByteArray();
        QTest::newRow("over-long run over chunks")
            << List{half, half, half + "\n~A\n"} << List{"~A"} << QByteArray();
        QTest::newRow("over-long unterminated")
            << List{"~A\n" + garbage} << List{"~A"} << QByteArray();
        QTest::newRow("largest reply kept")
            << List{QByteArray(ReplyFramer::MaxBuffer, '~') + "\n"}
            << List{QByteArray(ReplyFramer::MaxBuffer, '~')} << QByteArray();
    }

    void framer()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QByteArray, tail);
        ReplyFramer framer;
        QList<QByteArray> out;
        for (const QByteArray &chunk : chunks)
            out += framer.feed(chunk);
        QCOMPARE(out, replies);
        QCOMPARE(framer.hasTail(), !tail.isEmpty());
        QCOMPARE(framer.takeTail(), tail);
        QVERIFY(!framer.hasTail());
        // A cleared framer starts afresh.
        framer.feed("~F5");
        framer.clear();
        QCOMPARE(framer.feed("2\n~A\n"), (QList<QByteArray>{"2", "~A"}));
    }
};

TOVEL3_TEST_MAIN(TestBoardProtocol)
#include "tst_boardprotocol.moc"
