#include "support/testenvironment.h"
#include "tray/trayicon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

class TestTrayIcon : public QObject
{
    Q_OBJECT

private slots:
    void activationReasons_data();
    void activationReasons();
    void menuOrderAndIds();
    void iconAssignment();
    void lampIcons_data();
    void lampIcons();
    void menuDiesWithIcon();
};

void TestTrayIcon::activationReasons_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<int>("clicks");
    QTest::newRow("plain click") << int(QSystemTrayIcon::Trigger) << 1;
    QTest::newRow("context click") << int(QSystemTrayIcon::Context) << 0;
    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << 0;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << 0;
    QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << 0;
}

void TestTrayIcon::activationReasons()
{
    QFETCH(int, reason);
    QFETCH(int, clicks);
    TrayIcon tray;
    tray.addAction("Show", "show");
    QSignalSpy clicked(&tray, &TrayIcon::iconClicked);
    QSignalSpy triggered(&tray, &TrayIcon::triggered);
    emit tray.activated(QSystemTrayIcon::ActivationReason(reason));
    QCOMPARE(clicked.count(), clicks);
    QCOMPARE(triggered.count(), 0);
}

void TestTrayIcon::menuOrderAndIds()
{
    TrayIcon tray;
    tray.addAction("Show", "show");
    tray.addSeparator();
    tray.addAction("Test reset", "test_reset");
    tray.addAction("Quit", "quit");
    tray.addSeparator();
    tray.addAction("Caption only", ""); // says nothing when chosen

    QMenu *menu = tray.contextMenu();
    QVERIFY(menu);
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 6);
    QCOMPARE(actions[0]->text(), QString("Show"));
    QVERIFY(actions[1]->isSeparator());
    QCOMPARE(actions[2]->text(), QString("Test reset"));
    QCOMPARE(actions[3]->text(), QString("Quit"));
    QVERIFY(actions[4]->isSeparator());
    // Entries belong to the icon, not to the menu.
    QCOMPARE(actions[0]->parent(), &tray);

    QSignalSpy triggered(&tray, &TrayIcon::triggered);
    QSignalSpy clicked(&tray, &TrayIcon::iconClicked);
    actions[3]->trigger();
    actions[0]->trigger();
    actions[2]->trigger();
    actions[5]->trigger();
    QCOMPARE(triggered.count(), 3);
    QCOMPARE(triggered[0][0].toString(), QString("quit"));
    QCOMPARE(triggered[1][0].toString(), QString("show"));
    QCOMPARE(triggered[2][0].toString(), QString("test_reset"));
    QCOMPARE(clicked.count(), 0);

    // A stray call of the private slot from something that is no action.
    QVERIFY(QMetaObject::invokeMethod(&tray, "onActionTriggered"));
    QCOMPARE(triggered.count(), 3);
}

void TestTrayIcon::iconAssignment()
{
    TrayIcon tray;
    // Created with the dark lamp's icon.
    QCOMPARE(tray.property("iconSource").toString(), QString("tovel3.png"));
    QVERIFY(!tray.icon().isNull());
    QSignalSpy changed(&tray, &TrayIcon::iconChanged);
    QVERIFY(tray.setProperty("iconSource", "tovel3_g.png"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(tray.iconResource(), QString("tovel3_g.png"));
    QVERIFY(!tray.icon().isNull());
    // A resource that is not there leaves no icon.
    tray.setIconResource("no_such_image.png");
    QCOMPARE(changed.count(), 2);
    QCOMPARE(tray.iconResource(), QString("no_such_image.png"));
    QVERIFY(tray.icon().pixmap(16, 16).isNull());
}

void TestTrayIcon::lampIcons_data()
{
    QTest::addColumn<int>("lamp");
    QTest::addColumn<QString>("resource");
    QTest::newRow("off") << 0 << "tovel3.png";
    QTest::newRow("sent") << 1 << "tovel3_y.png";
    QTest::newRow("acknowledged") << 2 << "tovel3_g.png";
}

void TestTrayIcon::lampIcons()
{
    QFETCH(int, lamp);
    QFETCH(QString, resource);
    TrayIcon tray;
    tray.setLamp(lamp == 0 ? 2 : 0);
    QSignalSpy changed(&tray, &TrayIcon::iconChanged);
    // Twice: the second time the icon is taken from what the first one read.
    for (int round = 0; round < 2; ++round) {
        tray.setProperty("lamp", lamp);
        QCOMPARE(tray.iconResource(), resource);
        QCOMPARE(
            tray.icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32),
            QIcon(":/" + resource).pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32));
        tray.setLamp(lamp == 0 ? 2 : 0);
    }
    QCOMPARE(changed.count(), 4);
    // The same lamp again changes nothing.
    tray.setLamp(lamp);
    tray.setLamp(lamp);
    QCOMPARE(changed.count(), 5);
}

void TestTrayIcon::menuDiesWithIcon()
{
    auto *tray = new TrayIcon;
    tray->addAction("Show", "show");
    QPointer<QMenu> menu = tray->contextMenu();
    QPointer<QAction> action = menu->actions().first();
    QVERIFY(menu && !menu->parent());
    delete tray;
    QVERIFY(!menu);
    QVERIFY(!action);
}

TOVEL3_TEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
