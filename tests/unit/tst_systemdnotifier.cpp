#include "service/systemdnotifier.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The messages as systemd's end of NOTIFY_SOCKET receives them: the test
// binds that datagram socket itself.
class TestSystemdNotifier : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_socket = -1;
    QByteArray m_path;

    QList<QByteArray> received()
    {
        QList<QByteArray> messages;
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0)
            messages << QByteArray(buffer, int(n));
        return messages;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_path = QFile::encodeName(m_dir.filePath(QStringLiteral("notify")));
        m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        QVERIFY(m_socket >= 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, m_path.constData(), sizeof address.sun_path);
        QCOMPARE(::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    }

    void init()
    {
        qputenv("NOTIFY_SOCKET", m_path);
        qunsetenv("WATCHDOG_USEC");
        qunsetenv("WATCHDOG_PID");
        received();
    }

    void cleanupTestCase() { ::close(m_socket); }

    void messages()
    {
        SystemdNotifier notifier;
        QVERIFY(notifier.isActive());
        notifier.ready();
        notifier.status(QStringLiteral("Ostrel X2 on /dev/ttyACM0\nlast ack 09:13:36"));
        notifier.stopping();
        QCOMPARE(received(),
                 (QList<QByteArray>{"READY=1", "STATUS=Ostrel X2 on /dev/ttyACM0 last ack 09:13:36",
                                    "STOPPING=1"}));
    }

    void watchdog_data()
    {
        QTest::addColumn<QByteArray>("usec");
        QTest::addColumn<QByteArray>("pid"); // "self" for this process
        QTest::addColumn<qint64>("interval");

        QTest::newRow("no watchdog") << QByteArray() << QByteArray() << qint64(0);
        QTest::newRow("30 s for this process")
            << QByteArray("30000000") << QByteArray("self") << qint64(30000);
        QTest::newRow("5 s, no pid named") << QByteArray("5000000") << QByteArray() << qint64(5000);
        QTest::newRow("meant for another process")
            << QByteArray("30000000") << QByteArray("1") << qint64(0);
    }

    void watchdog()
    {
        QFETCH(QByteArray, usec);
        QFETCH(QByteArray, pid);
        QFETCH(qint64, interval);
        if (!usec.isEmpty())
            qputenv("WATCHDOG_USEC", usec);
        if (!pid.isEmpty())
            qputenv("WATCHDOG_PID", pid == "self" ? QByteArray::number(::getpid()) : pid);

        SystemdNotifier notifier;
        QCOMPARE(notifier.watchdogInterval(), interval);
        QCOMPARE(notifier.watchdogPingInterval(), interval / 2);
        notifier.watchdog();
        notifier.watchdog();
        const QList<QByteArray> expected =
            interval > 0 ? QList<QByteArray>{"WATCHDOG=1", "WATCHDOG=1"} : QList<QByteArray>{};
        QCOMPARE(received(), expected);
    }

    void silentWithoutSocket()
    {
        qunsetenv("NOTIFY_SOCKET");
        qputenv("WATCHDOG_USEC", "30000000");
        SystemdNotifier notifier;
        QVERIFY(!notifier.isActive());
        notifier.ready();
        notifier.status(QStringLiteral("idle"));
        notifier.watchdog();
        notifier.stopping();
        QVERIFY(received().isEmpty());
    }
};

TOVEL3_TEST_MAIN(TestSystemdNotifier)
#include "tst_systemdnotifier.moc"
