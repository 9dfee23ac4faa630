// The single-instance guard on Windows: a second start's line reaches the
// first instance, although the second one runs no event loop and closes its
// end of the pipe at once.
#include "integration/singleapphandler.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

#include <thread>

#include <windows.h>

class TestWineInstance : public QObject
{
    Q_OBJECT

private slots:
    void secondStartsReachTheFirst();
    void lineOfAClientGoneAtOnce();
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

// A client that writes its line and closes at once, in another thread (a
// pipe takes the line only as the first instance reads it): the line and the
// pipe's end reach the first instance together, several times over.
void TestWineInstance::lineOfAClientGoneAtOnce()
{
    SingleAppHandler first;
    QVERIFY(first.claimInstance());
    QSignalSpy received(&first, &SingleAppHandler::incomingMessage);
    const std::wstring pipe =
        (QStringLiteral("\\\\.\\pipe\\") + SingleAppHandler::serverAddress()).toStdWString();
    for (int i = 1; i <= 5; ++i) {
        bool sent = false;
        std::thread client([&] {
            HANDLE h =
                CreateFileW(pipe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            DWORD written = 0;
            sent = h != INVALID_HANDLE_VALUE && WriteFile(h, "show\n", 5, &written, nullptr) &&
                   written == 5;
            CloseHandle(h);
        });
        const bool arrived = QTest::qWaitFor([&] { return received.count() == i; }, 10000);
        client.join();
        QVERIFY(sent);
        QVERIFY2(arrived, qPrintable(QStringLiteral("line %1 lost").arg(i)));
    }
}

TOVEL3_TEST_MAIN(TestWineInstance)
#include "tst_wine_instance.moc"
