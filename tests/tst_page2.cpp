// The device settings page on its own: the real Page2 QML from the resources,
// the real settings store, and a window that stands where the main window would
// be and records every command the page hands to serialCommand().
#include "qmlpagewindow.h"
#include "testenvironment.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace
{
const char *harness = R"(
import QtQuick 2.10
import QtQuick.Controls 2.3
import Settings 1.0
ApplicationWindow {
    width: 580
    height: 540
    visible: true
    signal commandSent(string cmd)
    function serialCommand(cmd) { commandSent(cmd) }
    Settings { id: settings }
    Page2 { id: page2; objectName: "page2"; anchors.fill: parent }
}
)";
}

class TestPage2 : public QObject
{
    Q_OBJECT

private:
    QmlPageWindow qml;
    QObject *page = nullptr;
    std::unique_ptr<QSignalSpy> sent;

    void load()
    {
        QVERIFY2(qml.create(harness, QUrl("qrc:/page2harness.qml"), nullptr),
                 qPrintable(qml.errorString()));
        page = qml.root()->findChild<QObject *>("page2");
        QVERIFY(page);
        sent.reset(new QSignalSpy(qml.root(), SIGNAL(commandSent(QString))));
        QVERIFY(qml.window());
        QVERIFY(QTest::qWaitForWindowExposed(qml.window()));
    }

    QObject *control(const char *id) const { return page->property(id).value<QObject *>(); }

    void setIndex(const char *box, int index) { control(box)->setProperty("currentIndex", index); }

    QStringList commands() const
    {
        QStringList out;
        for (const QList<QVariant> &args : *sent)
            out << args.at(0).toString();
        return out;
    }

    QVariant call(const char *function, const QVariant &a = QVariant(),
                  const QVariant &b = QVariant())
    {
        QVariant result;
        if (!a.isValid())
            QMetaObject::invokeMethod(page, function, Q_RETURN_ARG(QVariant, result));
        else if (!b.isValid())
            QMetaObject::invokeMethod(page, function, Q_RETURN_ARG(QVariant, result),
                                      Q_ARG(QVariant, a));
        else
            QMetaObject::invokeMethod(page, function, Q_RETURN_ARG(QVariant, result),
                                      Q_ARG(QVariant, a), Q_ARG(QVariant, b));
        return result;
    }

    void click(const char *id) { qml.click(qobject_cast<QQuickItem *>(control(id))); }

    bool enabled(const char *id) const { return control(id)->property("enabled").toBool(); }

private slots:
    void initTestCase() { QmlPageWindow::prepare(); }

    void init()
    {
        QSettings().clear();
        QSettings().sync();
        load();
    }

    void cleanup()
    {
        sent.reset();
        qml.destroy();
    }

    void decimalToChar_data()
    {
        QTest::addColumn<int>("d");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << 0 << "0";
        QTest::newRow("nine") << 9 << "9";
        QTest::newRow("ten upper case") << 10 << "A";
        QTest::newRow("fifteen") << 15 << "F";
        QTest::newRow("sixteen is zero") << 16 << "0";
        QTest::newRow("large is zero") << 200 << "0";
        QTest::newRow("no selection is zero") << -1 << "0";
    }

    void decimalToChar()
    {
        QFETCH(int, d);
        QFETCH(QString, expected);
        QCOMPARE(call("decimalToChar", d).toString(), expected);
    }

    void decimalToHex_data()
    {
        QTest::addColumn<int>("d");
        QTest::addColumn<QVariant>("padding");
        QTest::addColumn<QString>("expected");
        QTest::newRow("default padding") << 5 << QVariant() << "05";
        QTest::newRow("lower case") << 125 << QVariant() << "7d";
        QTest::newRow("zero") << 0 << QVariant() << "00";
        QTest::newRow("wider than padding") << 300 << QVariant() << "12c";
        QTest::newRow("padding four") << 171 << QVariant(4) << "00ab";
        QTest::newRow("padding one") << 7 << QVariant(1) << "7";
    }

    void decimalToHex()
    {
        QFETCH(int, d);
        QFETCH(QVariant, padding);
        QFETCH(QString, expected);
        // An invalid variant reaches the function as undefined: the padding omitted.
        QVariant result;
        QMetaObject::invokeMethod(page, "decimalToHex", Q_RETURN_ARG(QVariant, result),
                                  Q_ARG(QVariant, d), Q_ARG(QVariant, padding));
        QCOMPARE(result.toString(), expected);
    }

    void startsWithEverythingEnabledAndFirstChoices()
    {
        for (const char *group : {"t1Group", "t2Group", "t3Group", "channelGroup", "tempGroup",
                                  "readbutton", "writebutton"})
            QVERIFY2(enabled(group), group);
        for (const char *box :
             {"t1Box", "t2Box", "t3Box", "t4Box", "t5Box", "p6Box", "p7Box", "p8Box", "p9Box"})
            QCOMPARE(control(box)->property("currentIndex").toInt(), 0);
        QCOMPARE(control("p10spinBox")->property("value").toInt(), 0);
        QCOMPARE(control("t1Box")->property("count").toInt(), 16);
        QCOMPARE(control("t2Box")->property("count").toInt(), 16);
        QCOMPARE(control("t3Box")->property("count").toInt(), 11);
        QCOMPARE(control("t4Box")->property("count").toInt(), 16);
        QCOMPARE(control("t5Box")->property("count").toInt(), 16);
        QCOMPARE(control("p6Box")->property("count").toInt(), 5);
        QCOMPARE(control("p7Box")->property("count").toInt(), 5);
        QCOMPARE(control("p8Box")->property("count").toInt(), 16);
        QCOMPARE(control("p9Box")->property("count").toInt(), 4);
        QCOMPARE(control("p10spinBox")->property("to").toInt(), 125);
    }

    void choicesCarryTheirUnits_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::newRow("t1") << "t1Box" << 15 << "15 min";
        QTest::newRow("t2") << "t2Box" << 2 << "200 ms";
        QTest::newRow("t3") << "t3Box" << 10 << "10 s";
        QTest::newRow("t4") << "t4Box" << 4 << "4 s";
        QTest::newRow("t5") << "t5Box" << 15 << "1500 ms";
        QTest::newRow("CH1") << "p6Box" << 3 << "OUT OPENED";
        QTest::newRow("CH2") << "p7Box" << 4 << "OUT CLOSED";
        QTest::newRow("limit") << "p8Box" << 10 << "10";
        QTest::newRow("IN") << "p9Box" << 3 << "TEMP";
    }

    void choicesCarryTheirUnits()
    {
        QFETCH(QString, box);
        QFETCH(int, index);
        QFETCH(QString, text);
        QObject *combo = control(qPrintable(box));
        QString shown;
        QMetaObject::invokeMethod(combo, "textAt", Q_RETURN_ARG(QString, shown), Q_ARG(int, index));
        QCOMPARE(shown, text);
    }

    void everyControlFitsTheWindowWidth()
    {
        QQuickWindow *window = qml.window();
        for (const char *id : {"t1Box", "t2Box", "t3Box", "t4Box", "t5Box", "p6Box", "p7Box",
                               "p8Box", "p9Box", "p10spinBox", "readbutton", "writebutton"}) {
            auto *item = qobject_cast<QQuickItem *>(control(id));
            const QRectF box = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
            QVERIFY2(box.left() >= 0 && box.right() <= window->width(), id);
            QVERIFY2(box.width() >= 40, id);
        }
        // The software renderer paints into the platform's backing store; read it from there.
        QTest::qWait(100);
        const QImage shot = window->screen()->grabWindow(window->winId()).toImage();
        QCOMPARE(shot.size(), QSize(580, 540));
        const QString dir = qEnvironmentVariable("TOVEL3_RENDER_DIR");
        if (!dir.isEmpty())
            shot.save(dir + "/page2.png");
    }

    void enteringTheTabReadsTheBoard()
    {
        call("tabEntered");
        QCOMPARE(commands(), QStringList{"~F"});
        call("tabEntered");
        click("readbutton");
        QCOMPARE(commands(), (QStringList{"~F", "~F", "~F"}));
        QVERIFY(enabled("readbutton"));
    }

    void writeOfTwoChannelForm_data()
    {
        QTest::addColumn<QVariantList>("indexes"); // t1 t2 t3 t4 t5 p6 p7 p8 p9
        QTest::addColumn<int>("threshold");
        QTest::addColumn<QString>("command");
        QTest::newRow("untouched page")
            << QVariantList{0, 0, 0, 0, 0, 0, 0, 0, 0} << 0 << "~W00000000000";
        QTest::newRow("example") << QVariantList{5, 2, 4, 2, 5, 1, 2, 10, 3} << 125
                                 << "~W5242512A37d";
        QTest::newRow("t1 ten minutes, threshold 5")
            << QVariantList{10, 15, 10, 15, 15, 4, 4, 15, 0} << 5 << "~WAFAFF44F005";
    }

    void writeOfTwoChannelForm()
    {
        QFETCH(QVariantList, indexes);
        QFETCH(int, threshold);
        QFETCH(QString, command);
        const char *boxes[] = {"t1Box", "t2Box", "t3Box", "t4Box", "t5Box",
                               "p6Box", "p7Box", "p8Box", "p9Box"};
        for (int i = 0; i < 9; ++i)
            setIndex(boxes[i], indexes.at(i).toInt());
        control("p10spinBox")->setProperty("value", threshold);
        click("writebutton");
        QCOMPARE(commands(), QStringList{command});
        QCOMPARE(command.size(), 13);
    }

    void writeOfOneChannelFormWhenHardResetGroupIsOff()
    {
        setIndex("t1Box", 7);
        setIndex("t2Box", 12);
        setIndex("t4Box", 3);
        control("t3Group")->setProperty("enabled", false);
        click("writebutton");
        QCOMPARE(commands(), QStringList{"~W7C"});
    }

    void writeNeverEmitsMinusForClearedBox()
    {
        setIndex("t5Box", -1);
        click("writebutton");
        QCOMPARE(commands(), QStringList{"~W00000000000"});
    }

    void compatibilityModeEntryShowsStoredTimeWithoutReading()
    {
        QSettings s;
        s.setValue("legacy", true);
        s.setValue("t1", 12);
        s.sync();
        call("tabEntered");
        QVERIFY(commands().isEmpty());
        QCOMPARE(control("t1Box")->property("currentIndex").toInt(), 12);
        QVERIFY(!enabled("readbutton"));
        QVERIFY(enabled("writebutton"));
        QVERIFY(enabled("t1Group"));
        for (const char *group : {"t2Group", "t3Group", "channelGroup", "tempGroup"})
            QVERIFY2(!enabled(group), group);
        QCOMPARE(control("t2Box")->property("currentIndex").toInt(), 2);
        for (const char *box : {"t3Box", "t4Box", "t5Box"})
            QCOMPARE(control(box)->property("currentIndex").toInt(), -1);
        QCOMPARE(control("p6Box")->property("currentIndex").toInt(), 1);
    }

    void compatibilityModeWrite_data()
    {
        QTest::addColumn<int>("t1");
        QTest::addColumn<QString>("command");
        QTest::newRow("above nine") << 12 << "~W9\n";
        QTest::newRow("fifteen") << 15 << "~W9\n";
        QTest::newRow("nine") << 9 << "~W9\n";
        QTest::newRow("seven") << 7 << "~W7\n";
        QTest::newRow("zero") << 0 << "~W0\n";
    }

    void compatibilityModeWrite()
    {
        QFETCH(int, t1);
        QFETCH(QString, command);
        {
            QSettings s;
            s.setValue("legacy", true);
        }
        call("tabEntered");
        setIndex("t1Box", t1);
        click("writebutton");
        QCOMPARE(commands(), QStringList{command});
        QSettings s;
        QCOMPARE(s.value("t1").toString(), QString::number(t1));
        QCOMPARE(s.value("t1").userType(), int(QMetaType::Int));

        // The stored time is what the page shows the next time it is entered.
        setIndex("t1Box", 3);
        call("tabEntered");
        QCOMPARE(control("t1Box")->property("currentIndex").toInt(), t1);
        QCOMPARE(commands().size(), 1);
    }

    void compatibilityModeIsReadAtEveryEntry()
    {
        {
            QSettings s;
            s.setValue("legacy", true);
        }
        call("tabEntered");
        QVERIFY(commands().isEmpty());
        QSettings().setValue("legacy", false);
        call("tabEntered");
        QCOMPARE(commands(), QStringList{"~F"});
        QVERIFY(enabled("readbutton"));
        // Leaving compatibility mode does not re-enable the groups by itself.
        QVERIFY(!enabled("t2Group"));
    }
};

TOVEL3_TEST_MAIN(TestPage2)
#include "tst_page2.moc"
