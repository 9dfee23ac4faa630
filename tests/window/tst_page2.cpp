// The device settings page in the real main window, with the engine behind it
// and a board simulator on a pseudo-terminal: entering the tab reads the
// board, the page shows what the model reports, and Write is confirmed by the
// board or shown as failed.
#include "boardsim/boardsimulator.h"
#include "device/board.h"
#include "device/boardprotocol.h"
#include "engine.h"
#include "storage/journal.h"
#include "support/testenvironment.h"
#include "support/windowharness.h"
#include "window/windowhost.h"

#include <QQmlPropertyMap>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace WindowTest;

namespace
{
const QStringList boxes = {"t1Box", "t2Box", "t3Box", "t4Box", "t5Box",
                           "p6Box", "p7Box", "p8Box", "p9Box"};
const QStringList twoChannelGroups = {"t3Group", "channelGroup", "tempGroup"};
} // namespace

class TestPage2 : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<BoardSimulator> board;
    std::unique_ptr<Journal> journal;
    QmlPageWindow qml;
    QmlPageWindow fresh; // left as loaded, for the cases that only look

    QQuickWindow *window() const { return qml.window(); }
    QVariant eval(const QString &expression) const { return qml.eval(expression); }

    int index(const QString &box) const { return eval("page2." + box + ".currentIndex").toInt(); }
    bool enabled(const QString &id) const { return eval("page2." + id + ".enabled").toBool(); }
    QString writeText() const { return eval("page2.writebutton.text").toString(); }
    int received(const QByteArray &command) const { return board->receivedTexts().count(command); }

    // The boxes' indices and the threshold, as the page shows them.
    QVariantList shown() const
    {
        QVariantList values;
        for (const QString &box : boxes)
            values << index(box);
        values << eval("page2.p10spinBox.value").toInt();
        return values;
    }

    void show(const QVariantList &values)
    {
        for (int i = 0; i < boxes.size() && i < values.size(); ++i)
            eval(QString("page2.%1.currentIndex = %2").arg(boxes[i]).arg(values[i].toInt()));
        if (values.size() > boxes.size())
            eval(QString("page2.p10spinBox.value = %1").arg(values.last().toInt()));
    }

    void startBoard(BoardSimulator::Model model, const QByteArray &settings = QByteArray())
    {
        board.reset(new BoardSimulator(model));
        QVERIFY(board->start());
        if (!settings.isEmpty())
            QVERIFY(board->setSettings(settings));
        qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(board->portPath()));
    }

    void loadWindow()
    {
        QVERIFY2(qml.create(QUrl("qrc:/main.qml"), journal.get()), qPrintable(qml.errorString()));
        QVERIFY(QTest::qWaitForWindowExposed(window()));
    }

    // A write counts as failed after 300 ms here (800 ms in the program).
    void shortenWriteTimeout() const
    {
        Board *b = qml.host()->engine()->board();
        qml.host()->engine()->post([b] { b->setWriteTimeout(300); });
    }

    void clickTab(int n)
    {
        qml.click(qml.item(QString("tabBar.itemAt(%1)").arg(n)));
        QTRY_COMPARE(eval("swipeView.currentIndex").toInt(), n);
    }

    void click(const QString &id) { qml.click(qml.item("page2." + id)); }

private slots:
    void initTestCase()
    {
        installMessageHandler();
        QmlPageWindow::prepare();
        journal.reset(new Journal);
        journal->setup(TestEnvironment::home() + "/log", "tovel3.log");
    }

    void init()
    {
        startCase();
        qunsetenv("TOVEL3_EXTRA_PORTS");
    }

    void cleanup()
    {
        qml.destroy();
        board.reset();
        verifyNoQmlProblems();
    }

    void cleanupTestCase() { fresh.destroy(); }

    void freshPageAndItsChoices_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("last"); // the text of the last choice
        QTest::addColumn<QString>("text");
        QTest::newRow("t1") << "t1Box" << 16 << 15 << "15 min";
        QTest::newRow("t2") << "t2Box" << 16 << 15 << "1500 ms";
        QTest::newRow("t3") << "t3Box" << 11 << 10 << "10 s";
        QTest::newRow("t4") << "t4Box" << 16 << 4 << "4 s";
        QTest::newRow("t5") << "t5Box" << 16 << 15 << "1500 ms";
        QTest::newRow("CH1") << "p6Box" << 5 << 3 << "OUT OPENED";
        QTest::newRow("CH2") << "p7Box" << 5 << 4 << "OUT CLOSED";
        QTest::newRow("limit") << "p8Box" << 16 << 10 << "10";
        QTest::newRow("IN") << "p9Box" << 4 << 3 << "TEMP";
    }

    // Before any reading every group is enabled on its first choice, Write
    // waits for a reading, and every control fits the window's width.
    void freshPageAndItsChoices()
    {
        QFETCH(QString, box);
        QFETCH(int, count);
        QFETCH(int, last);
        QFETCH(QString, text);
        if (!fresh.root()) {
            QVERIFY(fresh.create(QUrl("qrc:/main.qml"), journal.get()));
            QVERIFY(QTest::qWaitForWindowExposed(fresh.window()));
            fresh.eval("tabBar.currentIndex = 1");
        }
        auto look = [this](const QString &expression) { return fresh.eval("page2." + expression); };
        for (const char *id :
             {"t1Group", "t2Group", "t3Group", "channelGroup", "tempGroup", "readbutton"})
            QVERIFY2(look(QString(id) + ".enabled").toBool(), id);
        QVERIFY(!look("writebutton.enabled").toBool());
        QCOMPARE(look(box + ".currentIndex").toInt(), 0);
        QCOMPARE(look(box + ".count").toInt(), count);
        QCOMPARE(look(QString("%1.textAt(%2)").arg(box).arg(last)).toString(), text);
        // Every choice as the protocol's table of fields (which tovel3ctl reads too) has it.
        const auto &choices = BoardProtocol::settingsFields().at(boxes.indexOf(box)).choices;
        QCOMPARE(choices.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(look(QString("%1.textAt(%2)").arg(box).arg(i)).toString(),
                     choices.at(i).text());
        QCOMPARE(look("p10spinBox.value").toInt(), 0);
        QCOMPARE(look("p10spinBox.to").toInt(), 125);
        for (const QString &id : QStringList{box, "p10spinBox", "readbutton", "writebutton"}) {
            QQuickItem *item = fresh.item("page2." + id);
            const QRectF r = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
            QVERIFY2(r.left() >= 0 && r.right() <= fresh.window()->width() && r.width() >= 40,
                     qPrintable(id));
        }
    }

    // Entering the tab and Read ask the board; the long form fills every
    // box, the short form only t1 and t2 and disables the two-channel groups.
    void readingFillsThePage_data()
    {
        QTest::addColumn<BoardSimulator::Model>("model");
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QVariantList>("firstShown");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QVariantList>("secondShown");
        QTest::newRow("two-channel")
            << BoardSimulator::X2 << QByteArray("A3A7C40F27d")
            << QVariantList{10, 3, 10, 7, 12, 4, 0, 15, 2, 125} << QByteArray("52425120346")
            << QVariantList{5, 2, 4, 2, 5, 1, 2, 0, 3, 70};
        QTest::newRow("one-channel")
            << BoardSimulator::S2 << QByteArray("7C")
            << QVariantList{7, 12, -1, -1, -1, 1, -1, -1, -1, 0} << QByteArray("52")
            << QVariantList{5, 2, -1, -1, -1, 1, -1, -1, -1, 0};
    }

    void readingFillsThePage()
    {
        QFETCH(BoardSimulator::Model, model);
        QFETCH(QByteArray, first);
        QFETCH(QVariantList, firstShown);
        QFETCH(QByteArray, second);
        QFETCH(QVariantList, secondShown);
        startBoard(model, first);
        loadWindow();
        QCOMPARE(received("~F"), 0);
        clickTab(1);
        QTRY_COMPARE(shown(), firstShown);
        QCOMPARE(received("~F"), 1);
        for (const QString &id : twoChannelGroups)
            QCOMPARE(enabled(id), model == BoardSimulator::X2);
        for (const char *id : {"t1Group", "t2Group", "readbutton", "writebutton"})
            QVERIFY2(enabled(id), id);
        qml.render(QString("page2-%1.png").arg(QTest::currentDataTag()));

        QVERIFY(board->setSettings(second));
        click("readbutton");
        QTRY_COMPARE(shown(), secondShown);
        QCOMPARE(received("~F"), 2);
    }

    void writeIsConfirmedByTheBoard_data()
    {
        QTest::addColumn<BoardSimulator::Model>("model");
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("two-channel")
            << BoardSimulator::X2 << QVariantList{5, 2, 4, 2, 5, 1, 2, 10, 3, 125}
            << QByteArray("5242512a37d");
        QTest::newRow("one-channel") << BoardSimulator::S2 << QVariantList{3} << QByteArray("32");
    }

    void writeIsConfirmedByTheBoard()
    {
        QFETCH(BoardSimulator::Model, model);
        QFETCH(QVariantList, values);
        QFETCH(QByteArray, written);
        startBoard(model);
        loadWindow();
        shortenWriteTimeout();
        clickTab(1);
        QTRY_COMPARE(index("t1Box"), 5);
        show(values);
        click("writebutton");
        QTRY_COMPARE(board->settings().toLower(), written);
        QTRY_VERIFY(writeText().contains(">OK<"));
        QVERIFY(writeText().contains("green"));
        qml.render("page2-ok.png");
        QTRY_COMPARE_WITH_TIMEOUT(writeText(), QString("Write"), 2000);
    }

    void silentBoardShowsFailed()
    {
        startBoard(BoardSimulator::X2);
        loadWindow();
        shortenWriteTimeout();
        clickTab(1);
        QTRY_COMPARE(index("t1Box"), 5);
        board->setSilent(true);
        eval("page2.t1Box.currentIndex = 9");
        click("writebutton");
        QTRY_COMPARE(received("~W92425120346"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(writeText().contains(">Failed<"), 2000);
        QVERIFY(writeText().contains("red"));
        qml.render("page2-failed.png");
        // The user's choice stays on the page.
        QCOMPARE(index("t1Box"), 9);
    }

    // A board that does not answer the read leaves no page that looks read:
    // Read says "No reply" and Write stays off until a read succeeds.
    void unansweredReadKeepsWriteOff_data() { addLanguageRows(); }

    void unansweredReadKeepsWriteOff()
    {
        QFETCH(QString, language);
        Language shownIn(language);
        startBoard(BoardSimulator::X2);
        loadWindow();
        shortenWriteTimeout();
        board->setSilent(true);
        clickTab(1);
        QTRY_COMPARE(received("~F"), 1);
        const QString noReply = QCoreApplication::translate("Page2", "No reply");
        QTRY_VERIFY(eval("page2.readbutton.text").toString().contains(">" + noReply + "<"));
        QVERIFY(eval("page2.readbutton.text").toString().contains("red"));
        QVERIFY(!enabled("writebutton"));
        QVERIFY(enabled("readbutton"));
        qml.render(language + "-settings-unanswered.png");
        click("writebutton");
        QTest::qWait(100);
        for (const QByteArray &text : board->receivedTexts())
            QVERIFY2(!text.startsWith("~W"), text.constData());

        board->setSilent(false);
        click("readbutton");
        QTRY_VERIFY(enabled("writebutton"));
        QCOMPARE(eval("page2.readbutton.text").toString(),
                 QCoreApplication::translate("Page2Form.ui", "Read"));
        QCOMPARE(index("t1Box"), 5);
    }

    // The old board: its reset time is sent once when the port opens; the
    // page offers and shows only the times it can send (0 to 9 minutes, a
    // stored time above as 9) without reading the board, and Write sends it
    // as one digit and stores it, with no confirmation awaited.
    void compatibilityMode_data() { addLanguageRows(); }

    void compatibilityMode()
    {
        QFETCH(QString, language);
        Language shownIn(language);
        startBoard(BoardSimulator::LegacyS);
        {
            QSettings s;
            s.setValue("legacy", true);
            s.setValue("t1", 12);
        }
        loadWindow();
        QTRY_COMPARE(board->t1(), 9);
        QCOMPARE(received("~W9\n"), 1);
        QCOMPARE(received("~I"), 1);

        clickTab(1);
        QCOMPARE(index("t1Box"), 9);
        QCOMPARE(eval("page2.t1Box.count").toInt(), 10);
        QCOMPARE(eval("page2.t1Box.displayText").toString(),
                 "9 " + QCoreApplication::translate("Page2Form.ui", "min"));
        qml.render(language + "-settings-compatibility.png");
        QVERIFY(!enabled("readbutton"));
        QVERIFY(enabled("writebutton"));
        QVERIFY(enabled("t1Group"));
        for (const QString &id : QStringList{"t2Group"} + twoChannelGroups)
            QVERIFY2(!enabled(id), qPrintable(id));
        QCOMPARE(shown(), (QVariantList{9, 2, -1, -1, -1, 1, 0, 0, 0, 0}));

        auto *view = qobject_cast<QQmlPropertyMap *>(eval("Board").value<QObject *>());
        QVERIFY(view);
        QSignalSpy changes(view, &QQmlPropertyMap::valueChanged);
        eval("page2.t1Box.currentIndex = 4");
        click("writebutton");
        QTRY_COMPARE(board->t1(), 4);
        QCOMPARE(received("~W4\n"), 1);
        QCOMPARE(QSettings().value("t1").toString(), QString("4"));
        QTest::qWait(50);
        for (const QList<QVariant> &change : changes)
            QVERIFY(!change.at(0).toString().startsWith("write"));
        QCOMPARE(writeText(), QCoreApplication::translate("Page2", "Write"));

        // Entered again: the stored time, still nothing read.
        clickTab(0);
        eval("page2.t1Box.currentIndex = 0");
        clickTab(1);
        QCOMPARE(index("t1Box"), 4);
        QCOMPARE(received("~F"), 0);

        // Switched off on the application page, the next entry reads the board.
        clickTab(2);
        qml.click(qml.item("page3.legacySwitch"));
        QVERIFY(!eval("page3.legacySwitch.checked").toBool());
        clickTab(1);
        QTRY_COMPARE(received("~F"), 1);
        QVERIFY(enabled("readbutton"));
    }
};

TOVEL3_TEST_MAIN(TestPage2)
#include "tst_page2.moc"
