// The single-instance guard on Windows: a second start's line reaches the
// first instance, although the second one runs no event loop and closes its
// end of the pipe at once.
#include "singleapphandler.h"
#include "testenvironment.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

class TestWineInstance : public QObject
{
    Q_OBJECT

private slots:
    void secondStartsReachTheFirst();
};

void TestWineInstance::secondStartsReachTheFirst()
{
    SingleAppHandler first;
    QVERIFY(first.claimInstance());
    QSignalSpy received(&first, &SingleAppHandler::incomingMessage);
    for (int i = 1; i <= 5; ++i) {
        SingleAppHandler second;
        QVERIFY(!second.claimInstance());
        second.sendMessage(QStringLiteral("show"));
        QTRY_COMPARE(received.count(), i);
        QCOMPARE(received.last().first().toString(), QStringLiteral("show"));
    }
}

TOVEL3_TEST_MAIN(TestWineInstance)
#include "tst_wine_instance.moc"
