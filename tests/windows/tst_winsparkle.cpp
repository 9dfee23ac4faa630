// The update element on Windows with WinSparkle.dll beside the program (here
// a stand-in that records the calls): the library is configured before it
// starts, checks go to its own dialogue, and it is shut down with the element.
#include "support/testenvironment.h"
#include "update/updater.h"

#include <QFile>
#include <QSettings>
#include <QtTest>

class TestWinSparkle : public QObject
{
    Q_OBJECT

private slots:
    void calls_data();
    void calls();
};

void TestWinSparkle::calls_data()
{
    QTest::addColumn<QString>("setting"); // Update/URL; empty: none stored
    QTest::addColumn<QString>("feed");    // how the address handed over ends
    QTest::newRow("built-in feed") << QString() << "/software/tovel3/updates/win/appcast.xml";
    QTest::newRow("feed from the settings") << "https://updates.example.org/tovel3.xml"
                                            << " https://updates.example.org/tovel3.xml";
}

void TestWinSparkle::calls()
{
    QFETCH(QString, setting);
    QFETCH(QString, feed);
    QFile::remove("winsparkle-calls.txt");
    {
        QSettings settings;
        settings.remove("Update/URL");
        if (!setting.isEmpty())
            settings.setValue("Update/URL", setting);
    }
    {
        Updater updater;
        QVERIFY(!updater.reportsOutcome());
        updater.checkUpdate();
        updater.checkUpdate();
        updater.doUpdate();
    }
    QFile log("winsparkle-calls.txt");
    QVERIFY(log.open(QIODevice::ReadOnly | QIODevice::Text));
    QStringList calls = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY2(calls.value(1).startsWith("set_appcast_url https://") && calls[1].endsWith(feed),
             qPrintable(calls.value(1)));
    calls[1] = "set_appcast_url";
    const QStringList expected{
        "set_app_details Brennic|Tovel3|" TOVEL3_VERSION,
        "set_appcast_url",
        "set_automatic_check_for_updates 1",
        "set_update_check_interval 86400",
        "init",
        "check_update_with_ui",
        "check_update_with_ui",
        "cleanup",
    };
    QCOMPARE(calls, expected);
}

TOVEL3_TEST_MAIN(TestWinSparkle)
#include "tst_winsparkle.moc"
