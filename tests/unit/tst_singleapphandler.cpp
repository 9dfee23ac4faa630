// The single-instance guard, in this process and against the real tovel3
// executable. Every case gets its own HOME, where the marker, the lock and
// the server socket live, so no other test run can interfere.
#include "integration/singleapphandler.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <QLockFile>
#include <QSystemSemaphore>

#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QString binary()
{
    return qEnvironmentVariable("TOVEL3_BIN");
}

QString socketPath()
{
    return SingleAppHandler::serverAddress();
}

// Starts the real program with the case's HOME (inherited: one user) and
// settings and journal directories of its own, so that whatever it writes
// can be seen.
void start(QProcess &p, const QString &home, const QStringList &args = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("XDG_CACHE_HOME", home + "/.cache");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_QUICK_BACKEND", "software");
    p.setProcessEnvironment(env);
    p.start(binary(), args);
}

// Waits for the program's end, after a SIGTERM (a service manager's stop)
// when asked to: true when it exited normally with 0.
bool endsCleanly(QProcess &p, bool terminate = false)
{
    if (terminate)
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    return (p.state() == QProcess::NotRunning || p.waitForFinished(20000)) &&
           p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool waitForSocketFile(const QProcess *p = nullptr)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        if (QFileInfo::exists(socketPath()))
            return true;
        if (p && p->state() == QProcess::NotRunning)
            return false;
        QTest::qWait(20);
    }
    return false;
}
} // namespace

class TestSingleAppHandler : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void serverNameIsDigestOfApplicationName();
    void oneHandlerClaimsServesAndReleases();
    void oneInstanceWhateverTheRuntimeDirectory_data();
    void oneInstanceWhateverTheRuntimeDirectory();
    void anotherUsersFilesDoNotStopUs_data();
    void anotherUsersFilesDoNotStopUs();
    void lineSplitting_data();
    void lineSplitting();
    void unfinishedHugeLineDropsClient();
    void surplusAndIdleClientsDropped();

    void secondStartDeliversShow_data();
    void secondStartDeliversShow();
    void secondStartWithStoppedInstanceExits();
    void killedInstanceDoesNotBlock();
    void semaphoreOfEarlierVersionsDoesNotBlock();
    void simultaneousStarts();

private:
    std::unique_ptr<QTemporaryDir> tmp;
    QByteArray savedTmpDir;
    QByteArray savedRuntimeDir;
    QByteArray savedHome;
};

void TestSingleAppHandler::init()
{
    savedTmpDir = qgetenv("TMPDIR");
    savedRuntimeDir = qgetenv("XDG_RUNTIME_DIR");
    savedHome = qgetenv("HOME");
    // Short base path: a local socket path is limited to 107 bytes.
    tmp.reset(new QTemporaryDir("/tmp/s-XXXXXX"));
    QVERIFY(tmp->isValid());
    const QString runtime = tmp->path() + "/run";
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString home = tmp->path() + "/home";
    QVERIFY(QDir().mkpath(home));
    qputenv("TMPDIR", QFile::encodeName(tmp->path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("HOME", QFile::encodeName(home));
    QVERIFY(SingleAppHandler::lockFilePath().startsWith(home + "/.cache/tovel3/"));
}

void TestSingleAppHandler::cleanup()
{
    for (const auto &[name, value] :
         {std::make_pair("TMPDIR", savedTmpDir), std::make_pair("XDG_RUNTIME_DIR", savedRuntimeDir),
          std::make_pair("HOME", savedHome)}) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    tmp.reset();
}

void TestSingleAppHandler::serverNameIsDigestOfApplicationName()
{
    // Earlier and later versions must find each other: the name is fixed.
    QCOMPARE(SingleAppHandler::serverName(),
             QString("45b60dd5e658d565f488790321c6c8cc3527777d33b30a7ef3d8d9bf9fa14e60"));
    QCoreApplication::setApplicationName("Другое");
    const QString other = SingleAppHandler::serverName();
    QCoreApplication::setApplicationName("Tovel3");
    QCOMPARE(other, QString("001f75c6b3f4631ac413cc7a268dd669e4513f507ef6aebfcd98f06bbd19f0a3"));
}

void TestSingleAppHandler::oneHandlerClaimsServesAndReleases()
{
    // With nobody to hand it to, a message is not waited on.
    QElapsedTimer t;
    t.start();
    SingleAppHandler().sendMessage("show");
    QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    {
        SingleAppHandler first;
        SingleAppHandler second;
        QVERIFY(first.claimInstance());
        QVERIFY(!second.claimInstance());
        const QFileInfo info(socketPath());
        QVERIFY(info.exists());
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(info.permissions() & others, QFile::Permissions());
        QCOMPARE(info.ownerId(), uint(::getuid()));

        QSignalSpy received(&first, &SingleAppHandler::incomingMessage);
        second.sendMessage("show");
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toString(), QString("show"));
    }
    // Released with its handler: the next one claims and serves.
    SingleAppHandler next;
    QVERIFY(next.claimInstance());
    QSignalSpy received(&next, &SingleAppHandler::incomingMessage);
    SingleAppHandler().sendMessage("show");
    QTRY_COMPARE(received.count(), 1);
}

// A desktop session, su, cron and a session without pam_systemd see
// different runtime directories, or none: one user still has one instance.
void TestSingleAppHandler::oneInstanceWhateverTheRuntimeDirectory_data()
{
    QTest::addColumn<QString>("runtime"); // "-": unset; "other:<uid>": owned by uid
    QTest::newRow("another private one") << "other";
    QTest::newRow("unset") << "-";
    QTest::newRow("another user's") << "other:4242";
}

void TestSingleAppHandler::oneInstanceWhateverTheRuntimeDirectory()
{
    QFETCH(QString, runtime);
    SingleAppHandler mine;
    QVERIFY(mine.claimInstance());

    if (runtime == "-") {
        qunsetenv("XDG_RUNTIME_DIR");
    } else {
        const QString other = tmp->path() + "/other-run";
        QVERIFY(QDir().mkpath(other));
        QVERIFY(::chmod(QFile::encodeName(other), 0700) == 0);
        const uint uid = runtime.section(':', 1).toUInt();
        if (uid && ::chown(QFile::encodeName(other), uid, uid) != 0)
            QSKIP("only root can give a directory to another user");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(other));
    }
    SingleAppHandler second;
    QVERIFY(!second.claimInstance());
    QSignalSpy received(&mine, &SingleAppHandler::incomingMessage);
    second.sendMessage("show");
    QTRY_COMPARE(received.count(), 1);
}

// Another user takes, in the shared temporary directory, every name an
// earlier version tried for our directory: we are still guarded, in a
// directory of our own that is not there.
void TestSingleAppHandler::anotherUsersFilesDoNotStopUs_data()
{
    QTest::addColumn<QString>("planted"); // what takes each name
    QTest::newRow("open directories") << "directory";
    QTest::newRow("links to a directory of theirs") << "link";
    QTest::newRow("files") << "file";
}

void TestSingleAppHandler::anotherUsersFilesDoNotStopUs()
{
    QFETCH(QString, planted);
    if (::geteuid() != 0)
        QSKIP("another user's files can only be planted as root");
    const QString shared = tmp->path();
    QVERIFY(::chmod(QFile::encodeName(shared), 01777) == 0);
    const QString theirs = shared + "/theirs";
    QVERIFY(QDir().mkdir(theirs));
    QVERIFY(::chmod(QFile::encodeName(theirs), 0777) == 0);
    const QString stem = shared + "/tovel3-" + QString::number(::geteuid());
    for (int i = 0; i < 10; ++i) {
        const QString name = i == 0 ? stem : stem + "." + QString::number(i);
        if (planted == "directory")
            QVERIFY(QDir().mkdir(name) && ::chmod(QFile::encodeName(name), 0777) == 0);
        else if (planted == "link")
            QVERIFY(QFile::link(theirs, name));
        else
            QVERIFY(QFile(name).open(QIODevice::WriteOnly));
        QVERIFY(::lchown(QFile::encodeName(name), 65534, 65534) == 0);
    }

    SingleAppHandler mine;
    QVERIFY(mine.claimInstance());
    QVERIFY(!socketPath().startsWith(shared + "/tovel3-"));
    SingleAppHandler second;
    QVERIFY(!second.claimInstance());
    QSignalSpy received(&mine, &SingleAppHandler::incomingMessage);
    second.sendMessage("show");
    QTRY_COMPARE(received.count(), 1);
    struct stat st = {};
    QCOMPARE(::lstat(QFile::encodeName(QFileInfo(socketPath()).path()), &st), 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_uid, ::getuid());
    QCOMPARE(st.st_mode & 0777, mode_t(0700));
}

void TestSingleAppHandler::lineSplitting_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QStringList>("expected");

    using W = QList<QByteArray>;
    QTest::newRow("one line") << W{"show\n"} << QStringList{"show"};
    QTest::newRow("several lines, empty one dropped") << W{"a\n\nb\n"} << QStringList{"a", "b"};
    QTest::newRow("leading line feed") << W{"\n", "show\n"} << QStringList{"show"};
    QTest::newRow("no line feed") << W{"show"} << QStringList();
    QTest::newRow("partial line completed later") << W{"a\nb", "c\nd"} << QStringList{"a", "bc"};
    QTest::newRow("carriage return kept") << W{"show\r\n"} << QStringList{"show\r"};
    QTest::newRow("bytes after NUL dropped")
        << W{QByteArray("ab\0cd\n", 6), "e\n"} << QStringList{"abe"};
    const QByteArray cyrillic = QString("окно\n").toUtf8();
    QTest::newRow("Cyrillic, a letter split across writes")
        << W{cyrillic.left(3), cyrillic.mid(3)} << QStringList{"окно"};
}

void TestSingleAppHandler::lineSplitting()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QStringList, expected);

    SingleAppHandler server;
    QVERIFY(server.claimInstance());
    QSignalSpy received(&server, &SingleAppHandler::incomingMessage);

    QLocalSocket client;
    client.connectToServer(SingleAppHandler::serverAddress());
    QVERIFY(client.waitForConnected(2000));
    // The server's end of the connection: each piece is read on its own.
    QLocalSocket *end = nullptr;
    QTRY_VERIFY((end = server.findChild<QLocalSocket *>()));
    QSignalSpy read(end, &QLocalSocket::readyRead);
    QSignalSpy gone(end, &QLocalSocket::disconnected);
    for (const QByteArray &chunk : writes) {
        const int reads = read.count();
        client.write(chunk);
        QVERIFY(client.waitForBytesWritten(2000) || client.bytesToWrite() == 0);
        QTRY_VERIFY(read.count() > reads);
    }
    client.disconnectFromServer();
    QTRY_COMPARE(gone.count(), 1);

    QStringList messages;
    for (const QList<QVariant> &args : qAsConst(received))
        messages << args.at(0).toString();
    QCOMPARE(messages, expected);
}

void TestSingleAppHandler::unfinishedHugeLineDropsClient()
{
    SingleAppHandler server;
    QVERIFY(server.claimInstance());
    QSignalSpy received(&server, &SingleAppHandler::incomingMessage);

    // Just under the limit a long line is still a message.
    QLocalSocket fine;
    fine.connectToServer(SingleAppHandler::serverAddress());
    QVERIFY(fine.waitForConnected(2000));
    const QByteArray longLine(SingleAppHandler::maxPendingLine - 10, 'a');
    fine.write(longLine.left(30000));
    fine.flush();
    QTest::qWait(100);
    fine.write(longLine.mid(30000) + "\n");
    fine.flush();
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).toString().size(), longLine.size());

    // A client that keeps sending without a line feed is cut off.
    QLocalSocket flood;
    flood.connectToServer(SingleAppHandler::serverAddress());
    QVERIFY(flood.waitForConnected(2000));
    const QByteArray block(16 * 1024, 'z');
    int sent = 0;
    while (flood.state() == QLocalSocket::ConnectedState && sent < 64 * 1024 * 1024) {
        if (flood.write(block) < 0)
            break;
        flood.flush();
        sent += block.size();
        QTest::qWait(5);
    }
    QTRY_COMPARE(flood.state(), QLocalSocket::UnconnectedState);
    QVERIFY2(sent < 1024 * 1024, qPrintable(QString::number(sent)));
    QCOMPARE(received.count(), 1);

    // The server keeps serving other clients.
    SingleAppHandler().sendMessage("show");
    QTRY_COMPARE(received.count(), 2);
    QCOMPARE(received.at(1).at(0).toString(), QString("show"));
}

// Every client holds a descriptor of the instance: a local flood of idle
// connections must neither pile up nor keep "show" out for long.
void TestSingleAppHandler::surplusAndIdleClientsDropped()
{
    SingleAppHandler server;
    const int timeout = 1500;
    server.setIdleTimeout(timeout);
    QVERIFY(server.claimInstance());
    QSignalSpy received(&server, &SingleAppHandler::incomingMessage);

    QLocalSocket talker;
    talker.connectToServer(SingleAppHandler::serverAddress());
    QVERIFY(talker.waitForConnected(2000));
    QElapsedTimer t;
    t.start();
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < SingleAppHandler::maxClients + 8; ++i) {
        idle.emplace_back(new QLocalSocket);
        idle.back()->connectToServer(SingleAppHandler::serverAddress());
        QVERIFY(idle.back()->waitForConnected(2000));
    }
    const auto connected = [&] {
        return std::count_if(idle.begin(), idle.end(), [](const auto &s) {
            return s->state() == QLocalSocket::ConnectedState;
        });
    };
    // The surplus goes at once; the others when they have been quiet too long.
    QTRY_COMPARE_WITH_TIMEOUT(connected(), long(SingleAppHandler::maxClients - 1), 2000);
    while (t.elapsed() < timeout + 1500 && connected() > 0) {
        talker.write("ping\n");
        QTest::qWait(100);
    }
    QCOMPARE(connected(), 0L);
    // Not before they were quiet for the whole time.
    QVERIFY2(t.elapsed() >= timeout, qPrintable(QString::number(t.elapsed())));
    // A client that keeps sending lines is no idle one.
    QCOMPARE(talker.state(), QLocalSocket::ConnectedState);
    QVERIFY(received.count() > 0);

    received.clear();
    SingleAppHandler().sendMessage("show");
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).toString(), QString("show"));
}

void TestSingleAppHandler::secondStartDeliversShow_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no options") << QStringList();
    QTest::newRow("help") << QStringList{"--help"};
    QTest::newRow("options") << QStringList{"--lang", "xx", "--softgl", "--legacy"};
}

void TestSingleAppHandler::secondStartDeliversShow()
{
    QFETCH(QStringList, args);
    SingleAppHandler first;
    QVERIFY(first.claimInstance());
    QSignalSpy received(&first, &SingleAppHandler::incomingMessage);

    QTemporaryDir home;
    QProcess second;
    QElapsedTimer t;
    t.start();
    start(second, home.path(), args);
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
    const qint64 elapsed = t.elapsed();
    QVERIFY(endsCleanly(second));
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).toString(), QString("show"));
    // Nothing of the ordinary start happened: no help text, no setting.
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QVERIFY(!QFileInfo::exists(home.path() + "/.config/Brennic/Tovel3.conf"));
    QVERIFY(!QFileInfo::exists(home.path() + "/.local/share/Brennic/Tovel3"));
    // About half a second normally; generous for a loaded machine.
    QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
}

void TestSingleAppHandler::secondStartWithStoppedInstanceExits()
{
    // A running instance that does not serve its socket (stopped, hung):
    // the second start hands over what it can and still exits with 0.
    QTemporaryDir home;
    QProcess first;
    start(first, home.path());
    QVERIFY(waitForSocketFile(&first));
    ::kill(static_cast<pid_t>(first.processId()), SIGSTOP);

    QProcess second;
    QElapsedTimer t;
    t.start();
    start(second, home.path());
    const bool finished = second.waitForFinished(20000);
    const qint64 elapsed = t.elapsed();
    ::kill(static_cast<pid_t>(first.processId()), SIGCONT);
    QVERIFY(finished);
    QVERIFY(endsCleanly(second));
    QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));

    // The stopped instance was not taken for a dead one.
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(endsCleanly(first, true));
}

void TestSingleAppHandler::killedInstanceDoesNotBlock()
{
    QTemporaryDir home;
    QProcess killed;
    start(killed, home.path());
    QVERIFY(waitForSocketFile(&killed));
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    QVERIFY(killed.waitForFinished(10000));
    QCOMPARE(killed.exitStatus(), QProcess::CrashExit);
    // Both the marker and the socket file are left behind.
    QVERIFY(QFileInfo::exists(socketPath()));
    QVERIFY(QFileInfo::exists(SingleAppHandler::lockFilePath()));

    // The next start becomes the instance and its server works.
    SingleAppHandler next;
    QVERIFY(next.claimInstance());
    QSignalSpy received(&next, &SingleAppHandler::incomingMessage);
    QProcess later;
    start(later, home.path());
    QVERIFY(endsCleanly(later));
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).toString(), QString("show"));
}

// Earlier versions serialised starts with a System V semaphore in the shared
// temporary directory; anyone could create it first with the count at 0.
void TestSingleAppHandler::semaphoreOfEarlierVersionsDoesNotBlock()
{
    QSystemSemaphore taken(SingleAppHandler::serverName() + "_semaphore", 0,
                           QSystemSemaphore::Create);
    QCOMPARE(taken.error(), QSystemSemaphore::NoError);
    QTemporaryDir home;
    QProcess instance;
    start(instance, home.path());
    QVERIFY(waitForSocketFile(&instance));
    QVERIFY(endsCleanly(instance, true));
}

void TestSingleAppHandler::simultaneousStarts()
{
    for (int round = 0; round < 3; ++round) {
        QTemporaryDir home;
        std::vector<std::unique_ptr<QProcess>> starts;
        for (int i = 0; i < 3; ++i)
            starts.emplace_back(new QProcess);
        for (auto &p : starts)
            start(*p, home.path());
        QVERIFY(waitForSocketFile());
        // The others hand over and exit; exactly one keeps running.
        const auto running = [&] {
            return std::count_if(starts.begin(), starts.end(),
                                 [](const auto &p) { return p->state() != QProcess::NotRunning; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(running() <= 1, 20000);
        QTest::qWait(500);
        QCOMPARE(running(), 1L);
        for (auto &p : starts)
            QVERIFY(endsCleanly(*p, p->state() != QProcess::NotRunning));
        // The instance that ended normally leaves nothing behind.
        QVERIFY(!QFileInfo::exists(socketPath()));
    }
}

TOVEL3_TEST_MAIN(TestSingleAppHandler)
#include "tst_singleapphandler.moc"
