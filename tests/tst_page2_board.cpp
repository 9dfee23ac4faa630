// The device settings page inside the real main window, talking through the
// real serial channel to a board simulator on a pseudo-terminal.
#include "boardsimulator.h"
#include "journal.h"
#include "qmlpagewindow.h"
#include "testenvironment.h"

#include <QDir>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QtTest>

#include <memory>

class TestPage2Board : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<BoardSimulator> board;
    std::unique_ptr<Journal> journal;
    QmlPageWindow qml;

    QQuickWindow *window() const { return qml.window(); }
    QVariant eval(const QString &expression) const { return qml.eval(expression); }

    int index(const QString &box) const { return eval("page2." + box + ".currentIndex").toInt(); }
    bool enabled(const QString &id) const { return eval("page2." + id + ".enabled").toBool(); }
    QString writeText() const { return eval("page2.writebutton.text").toString(); }

    void startBoard(BoardSimulator::Model model)
    {
        board.reset(new BoardSimulator(model));
        QVERIFY(board->start());
        qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(board->portPath()));
        QSettings s;
        s.setValue("port", board->portPath());
    }

    void loadWindow()
    {
        journal.reset(new Journal);
        journal->setup(TestEnvironment::home() + "/log", "tovel3.log");
        QVERIFY2(qml.create(QUrl("qrc:/main.qml"), journal.get()), qPrintable(qml.errorString()));
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        QCOMPARE(eval("page1.portsCombo.currentText").toString(), board->portPath());
    }

    void clickTab(int n)
    {
        // A click on the tab, as the user does it.
        QQuickItem *tab = qml.item(QString("tabBar.itemAt(%1)").arg(n));
        QVERIFY(tab);
        const QPointF centre = tab->mapToScene(QPointF(tab->width() / 2, tab->height() / 2));
        QTest::mouseClick(window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        QTRY_COMPARE(eval("swipeView.currentIndex").toInt(), n);
    }

    void enterSettingsTab() { clickTab(1); }

    void clickWrite() { qml.click(qml.item("page2.writebutton")); }

    bool boardGot(const QByteArray &command) const
    {
        return board->receivedTexts().contains(command);
    }

    void render(const QString &name) { qml.render(name); }

private slots:
    void initTestCase() { QmlPageWindow::prepare(); }

    void init() { QSettings().clear(); }

    void cleanup()
    {
        qml.destroy();
        journal.reset();
        board.reset();
    }

    void twoChannelBoardFillsEveryBox()
    {
        startBoard(BoardSimulator::X2);
        QVERIFY(board->setSettings("A3A7C40F27d"));
        loadWindow();
        enterSettingsTab();
        QTRY_VERIFY_WITH_TIMEOUT(boardGot("~F"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(index("t1Box"), 10, 5000);
        QCOMPARE(index("t2Box"), 3);
        QCOMPARE(index("t3Box"), 10);
        QCOMPARE(index("t4Box"), 7);
        QCOMPARE(index("t5Box"), 12);
        QCOMPARE(index("p6Box"), 4);
        QCOMPARE(index("p7Box"), 0);
        QCOMPARE(index("p8Box"), 15);
        QCOMPARE(index("p9Box"), 2);
        QCOMPARE(eval("page2.p10spinBox.value").toInt(), 125);
        for (const char *id : {"t1Group", "t2Group", "t3Group", "channelGroup", "tempGroup",
                               "readbutton", "writebutton"})
            QVERIFY2(enabled(id), id);
        render("page2-x2.png");

        // Read asks again; the board's new values replace the shown ones.
        QVERIFY(board->setSettings("52425120346"));
        board->clearReceived();
        eval("page2.readbutton.clicked()");
        QTRY_COMPARE_WITH_TIMEOUT(index("t1Box"), 5, 5000);
        QVERIFY(boardGot("~F"));
        QCOMPARE(index("p9Box"), 3);
        QCOMPARE(eval("page2.p10spinBox.value").toInt(), 70);
    }

    void oneChannelBoardDisablesTheTwoChannelGroups()
    {
        startBoard(BoardSimulator::S2);
        QVERIFY(board->setSettings("7C"));
        loadWindow();
        enterSettingsTab();
        QTRY_COMPARE_WITH_TIMEOUT(index("t1Box"), 7, 5000);
        QCOMPARE(index("t2Box"), 12);
        QTRY_VERIFY(!enabled("t3Group"));
        QVERIFY(!enabled("channelGroup"));
        QVERIFY(!enabled("tempGroup"));
        QVERIFY(enabled("t1Group"));
        QVERIFY(enabled("t2Group"));
        QCOMPARE(index("p6Box"), 1);
        for (const char *box : {"t3Box", "t4Box", "t5Box", "p7Box", "p8Box", "p9Box"})
            QCOMPARE(index(box), -1);

        // Its write is the short form, and the board confirms it.
        board->clearReceived();
        eval("page2.t1Box.currentIndex = 3");
        clickWrite();
        QTRY_VERIFY_WITH_TIMEOUT(boardGot("~W3C"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(writeText().contains(">OK<"), 2000);
        QCOMPARE(board->settings(), QByteArray("3C"));
    }

    void writeIsConfirmedByTheBoard()
    {
        startBoard(BoardSimulator::X2);
        loadWindow();
        enterSettingsTab();
        QTRY_COMPARE_WITH_TIMEOUT(index("t1Box"), 5, 5000);
        const char *boxes[] = {"t1Box", "t2Box", "t3Box", "t4Box", "t5Box",
                               "p6Box", "p7Box", "p8Box", "p9Box"};
        const int values[] = {5, 2, 4, 2, 5, 1, 2, 10, 3};
        for (int i = 0; i < 9; ++i)
            eval(QString("page2.%1.currentIndex = %2").arg(boxes[i]).arg(values[i]));
        eval("page2.p10spinBox.value = 125");
        board->clearReceived();
        clickWrite();
        QTRY_VERIFY_WITH_TIMEOUT(boardGot("~W5242512A37d"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(writeText().contains(">OK<"), 2000);
        QVERIFY(writeText().contains("green"));
        render("page2-ok.png");
        QCOMPARE(board->settings().toLower(), QByteArray("5242512a37d"));
        QTRY_COMPARE_WITH_TIMEOUT(writeText(), QString("Write"), 3000);
    }

    void silentBoardShowsFailed()
    {
        startBoard(BoardSimulator::X2);
        loadWindow();
        enterSettingsTab();
        QTRY_VERIFY_WITH_TIMEOUT(boardGot("~F"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(index("t1Box"), 5, 5000);
        board->setSilent(true);
        board->clearReceived();
        eval("page2.t1Box.currentIndex = 9");
        clickWrite();
        QTRY_VERIFY_WITH_TIMEOUT(boardGot("~W92425120346"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(writeText().contains(">Failed<"), 3000);
        QVERIFY(writeText().contains("red"));
        render("page2-failed.png");
        QTRY_COMPARE_WITH_TIMEOUT(writeText(), QString("Write"), 3000);
        // The user's choice stays on the page.
        QCOMPARE(index("t1Box"), 9);
    }

    void compatibilityModeWritesTheStoredDigit()
    {
        startBoard(BoardSimulator::LegacyS);
        {
            QSettings s;
            s.setValue("legacy", true);
            s.setValue("t1", 4);
        }
        loadWindow();
        enterSettingsTab();
        QCOMPARE(index("t1Box"), 4);
        QVERIFY(!enabled("readbutton"));
        QVERIFY(!enabled("t2Group"));
        QCOMPARE(index("t2Box"), 2);
        QTest::qWait(500);
        QVERIFY(!boardGot("~F"));

        board->clearReceived();
        eval("page2.t1Box.currentIndex = 12");
        clickWrite();
        QTRY_VERIFY_WITH_TIMEOUT(boardGot("~W9\n"), 5000);
        QCOMPARE(QSettings().value("t1").toString(), QString("12"));
        QCOMPARE(board->t1(), 9);
        // No confirmation is awaited from this board.
        QTest::qWait(2000);
        QCOMPARE(writeText(), QString("Write"));

        // Back on the first tab and in again: still 12 minutes, still nothing read.
        clickTab(0);
        eval("page2.t1Box.currentIndex = 0");
        enterSettingsTab();
        QCOMPARE(index("t1Box"), 12);
        QVERIFY(!boardGot("~F"));
    }
};

TOVEL3_TEST_MAIN(TestPage2Board)
#include "tst_page2_board.moc"
