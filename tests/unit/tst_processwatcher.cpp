// Runs on Windows too.
#include "monitor/processwatcher.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#ifndef Q_OS_WIN
#include "support/unprivileged.h"

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

namespace
{
QString uniqueName(const QString &prefix, int randomChars)
{
    QString s = prefix;
    for (int i = 0; i < randomChars; ++i)
        s += QChar('a' + QRandomGenerator::global()->bounded(26));
    return s;
}

#ifndef Q_OS_WIN
// The kernel's state letter of a process, or 0 when it is gone.
char stateOf(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    const int close = stat.lastIndexOf(')');
    return close > 0 && close + 2 < stat.size() ? stat.at(close + 2) : 0;
}

QByteArray commOf(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/comm").arg(pid));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}
#endif
} // namespace

class ProcessWatcherTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::vector<std::unique_ptr<QProcess>> m_children;

    // A copy of sleep under the given file name, so the image name is ours
    // alone; other users may run it too.
    QString program(const QString &name)
    {
        const QString path = m_dir->filePath(name);
        if (!QFile::exists(path) && !QFile::copy("/bin/sleep", path))
            return QString();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadOther | QFile::ExeOther);
        return path;
    }

    QProcess *run(const QString &name)
    {
        auto p = std::make_unique<QProcess>();
        p->start(program(name), {"60"});
        if (!p->waitForStarted(5000))
            return nullptr;
        m_children.push_back(std::move(p));
        return m_children.back().get();
    }

#ifndef Q_OS_WIN
    std::vector<pid_t> m_spawned;

    // Starts, as the user `uid`, a copy of the program; "renamed": a shell
    // that takes the name as its kernel command name while its executable
    // stays the shell; "hidden": such a process that also keeps its
    // executable from being read (not dumpable); "...stop": stopped.
    bool runAs(uint uid, const QString &name, const QString &kind)
    {
        const bool stopped = kind.endsWith("stop");
        QStringList command = {program(name), "60"};
        if (kind.startsWith("renamed"))
            command =
                QStringList{"/bin/sh", "-c",
                            "printf %s \"$0\" >/proc/$$/comm; while :; do sleep 1; done", name};
        else if (kind == "hidden")
            command =
                QStringList{"/usr/bin/python3", "-c",
                            "import ctypes, sys, time; c = ctypes.CDLL(None);"
                            " c.prctl(4, 0, 0, 0, 0); c.prctl(15, sys.argv[1].encode(), 0, 0, 0);"
                            " time.sleep(60)",
                            name};
        if (uid != ::geteuid())
            command = QStringList{"setpriv", QStringLiteral("--reuid=%1").arg(uid),
                                  QStringLiteral("--regid=%1").arg(uid), "--clear-groups"} +
                      command;
        auto p = std::make_unique<QProcess>();
        p->start(command.first(), command.mid(1));
        if (!p->waitForStarted(5000))
            return false;
        const qint64 pid = p->processId();
        m_children.push_back(std::move(p));
        const QByteArray comm = QFile::encodeName(name.left(15));
        if (!QTest::qWaitFor([&] { return commOf(pid) == comm; }, 5000))
            return false;
        if (stopped)
            ::kill(pid_t(pid), SIGSTOP);
        return !stopped || QTest::qWaitFor([&] { return stateOf(pid) == 'T'; }, 5000);
    }

    // A child that exits at once and is not reaped: it stays a zombie.
    pid_t zombie(const QString &name)
    {
        const QByteArray path = QFile::encodeName(program(name));
        char *argv[] = {const_cast<char *>(path.constData()), const_cast<char *>("0"), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, path.constData(), nullptr, nullptr, argv, environ) != 0)
            return 0;
        m_spawned.push_back(pid);
        return pid;
    }
#endif

private slots:
    void init()
    {
#ifdef Q_OS_WIN
        // There the check asks tasklist: the stand-in that wine-run.sh puts
        // in system32.
        if (qstrcmp(QTest::currentTestFunction(), "windowsListing") != 0)
            QSKIP("Linux: copies of /bin/sleep, signals, /proc, other users, symbolic links");
#endif
        // Reachable by the other users whose processes some cases start.
        m_dir = std::make_unique<QTemporaryDir>("/tmp/tw-XXXXXX");
        QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadOther |
                                                 QFile::ExeOther);
    }

    void cleanup()
    {
#ifndef Q_OS_WIN
        for (auto &p : m_children) {
            ::kill(pid_t(p->processId()), SIGCONT);
            p->kill();
            p->waitForFinished(3000);
        }
        m_children.clear();
        for (pid_t pid : m_spawned) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        m_spawned.clear();
#endif
        m_dir.reset();
    }

    void findsExactImageName_data()
    {
        QTest::addColumn<QString>("name");
        // the kernel keeps only 15 bytes of a command name; the image name is whole
        QTest::newRow("short name") << uniqueName("tw", 8);
        QTest::newRow("long name") << uniqueName("tovel3-watched-", 12) + "-program";
        QTest::newRow("name with dots and spaces") << uniqueName("tw ", 6) + ".v2.exe";
    }

    void findsExactImageName()
    {
        QFETCH(QString, name);
        ProcessWatcher watcher;
        QCOMPARE(watcher.check(name), 1); // not running yet
        QProcess *p = run(name);
        QVERIFY(p);
        QCOMPARE(watcher.check(name), 0);
        QCOMPARE(watcher.check(name.toUpper()), 1);
        QCOMPARE(watcher.check(name.left(1).toUpper() + name.mid(1)), 1);
        QCOMPARE(watcher.check(name.chopped(1)), 1);
        QCOMPARE(watcher.check(name.mid(1)), 1);
        QCOMPARE(watcher.check(name + "x"), 1);
        if (name.size() > 15)
            QCOMPARE(watcher.check(name.left(15)), 1);
        QCOMPARE(watcher.check(m_dir->filePath(name)), 1); // a path is not an image name
        QCOMPARE(watcher.check(QString()), 1);
        QCOMPARE(watcher.check(""), 1);
        QCOMPARE(watcher.check(name), 0);
        // ended, it is no longer alive
        p->kill();
        QVERIFY(p->waitForFinished(3000));
        QCOMPARE(watcher.check(name), 1);
    }

    void stoppedProcessIsNotResponding_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("others");
        QTest::newRow("alone") << uniqueName("tw", 8) << 0;
        QTest::newRow("one of three") << uniqueName("tw", 8) << 2;
        QTest::newRow("long name, one of two") << uniqueName("tovel3-stopped-", 12) << 1;
    }

    void stoppedProcessIsNotResponding()
    {
        QFETCH(QString, name);
        QFETCH(int, others);
        ProcessWatcher watcher;
        for (int i = 0; i < others; ++i)
            QVERIFY(run(name));
        QProcess *p = run(name);
        QVERIFY(p);
#ifndef Q_OS_WIN
        const qint64 pid = p->processId();
        QCOMPARE(watcher.check(name), 0);

        ::kill(pid_t(pid), SIGSTOP);
        QTRY_COMPARE(stateOf(pid), 'T');
        QCOMPARE(watcher.check(name), 1);

        ::kill(pid_t(pid), SIGCONT);
        QTRY_VERIFY(stateOf(pid) != 'T');
        QCOMPARE(watcher.check(name), 0);
#endif
    }

    void zombieIsNotResponding_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("short name") << uniqueName("tz", 8);
        // a zombie has no executable left; only the kernel's 15 bytes of its name
        QTest::newRow("long name") << uniqueName("tovel3-zombie-", 12);
    }

    void zombieIsNotResponding()
    {
        QFETCH(QString, name);
        ProcessWatcher watcher;
        QVERIFY(run(name));
        QCOMPARE(watcher.check(name), 0);
#ifndef Q_OS_WIN
        const pid_t pid = zombie(name);
        QVERIFY(pid > 0);
        QTRY_COMPARE(stateOf(pid), 'Z');
        QCOMPARE(watcher.check(name), 1);
        // the zombie does not count against another program
        const QString other = uniqueName("tw", 8);
        QVERIFY(run(other));
        QCOMPARE(watcher.check(other), 0);
        QCOMPARE(::waitpid(pid, nullptr, 0), pid);
        m_spawned.clear();
        QCOMPARE(watcher.check(name), 0);
#endif
    }

    // Whose processes count: the owner's alone, by default the watcher's own
    // user; system accounts (uid 100) are no exception. A process whose
    // executable cannot be read counts by its kernel name only when it is
    // another owner's (the service watching root's daemon). A copy is
    // "uid:kind" (see runAs); "own" is the watcher's user. The watcher runs as
    // root, or as nobody where it cannot read other users' executables.
    void otherUsers_data()
    {
        QTest::addColumn<bool>("asNobody");
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QStringList>("copies");
        QTest::addColumn<int>("result");

        QTest::newRow("another user's copy alone") << false << "" << QStringList{"4242:run"} << 1;
        QTest::newRow("nobody's copy alone") << false << "" << QStringList{"65534:run"} << 1;
        QTest::newRow("another user's stopped copy beside ours")
            << false << "" << QStringList{"own:run", "4242:stop"} << 0;
        QTest::newRow("system account's stopped copy beside ours")
            << false << "" << QStringList{"own:run", "100:stop"} << 0;
        QTest::newRow("system account's copy alone") << false << "" << QStringList{"100:run"} << 1;
        QTest::newRow("owner by name") << false << "nobody" << QStringList{"65534:run"} << 0;
        QTest::newRow("owner by uid, ours does not count")
            << false << "65534" << QStringList{"own:run"} << 1;
        QTest::newRow("owner's stopped copy")
            << false << "nobody" << QStringList{"65534:run", "65534:stop"} << 1;
        QTest::newRow("owner set, our stopped copy does not count")
            << false << "4242" << QStringList{"4242:run", "own:stop"} << 0;
        QTest::newRow("unknown owner")
            << false << "no-such-user-tovel3" << QStringList{"own:run"} << 1;
        QTest::newRow("another user's renamed process")
            << true << "" << QStringList{"4242:renamed"} << 1;
        QTest::newRow("another user's stopped renamed process beside ours")
            << true << "" << QStringList{"own:run", "4242:renamed-stop"} << 0;
        QTest::newRow("root's renamed process") << true << "" << QStringList{"0:renamed"} << 1;
        QTest::newRow("owner's renamed process")
            << true << "4242" << QStringList{"4242:renamed"} << 0;
        QTest::newRow("our process hiding its executable")
            << true << "" << QStringList{"own:hidden"} << 1;
    }

    void otherUsers()
    {
        QFETCH(bool, asNobody);
        Q_UNUSED(asNobody) // only where other users' processes are started
        QFETCH(QString, owner);
        QFETCH(QStringList, copies);
        QFETCH(int, result);

        QString name;
#ifndef Q_OS_WIN
        if (::geteuid() == 0) {
            name = uniqueName("tu", 8);
            for (const QString &copy : copies) {
                const QString who = copy.section(':', 0, 0);
                const QString kind = copy.section(':', 1);
                const uint uid = who == "own" ? (asNobody ? 65534 : 0) : who.toUInt();
                QVERIFY(runAs(uid, name, kind));
            }
            if (asNobody) {
                qputenv("TOVEL3_TEST_IMAGE", name.toUtf8());
                Unprivileged::rerun(QByteArray("otherUsers:") + QTest::currentDataTag());
                qunsetenv("TOVEL3_TEST_IMAGE");
                return;
            }
        } else {
            name = qEnvironmentVariable("TOVEL3_TEST_IMAGE");
            if (name.isEmpty())
                QSKIP("other users' processes can only be started as root");
        }
#endif
        ProcessWatcher watcher;
        watcher.setOwner(owner);
        QCOMPARE(watcher.owner(), owner);
        QCOMPARE(watcher.check(name), result);
    }

    // Windows: the stand-in tasklist lists the image names in
    // system32\tasklist.running, the hung ones of them in tasklist.hung, and
    // records its runs' arguments in tasklist.args.
    void windowsListing_data()
    {
        QTest::addColumn<QString>("running");
        QTest::addColumn<QString>("hung");
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("runs");
        const QString name = "tovel3-w.exe";
        QTest::newRow("running") << name + "\nother.exe"
                                 << "" << true << 0 << 2;
        QTest::newRow("running, another one hung") << name + "\nother.exe"
                                                   << "other.exe" << true << 0 << 2;
        QTest::newRow("not responding") << name << name << true << 1 << 2;
        QTest::newRow("no such process") << "other.exe"
                                         << "" << true << 1 << 1;
        QTest::newRow("tasklist missing") << name << "" << false << 1 << 0;
    }

    void windowsListing()
    {
#ifndef Q_OS_WIN
        QSKIP("tasklist is Windows'");
#else
        QFETCH(QString, running);
        QFETCH(QString, hung);
        QFETCH(bool, present);
        QFETCH(int, result);
        QFETCH(int, runs);
        const QDir system32(qEnvironmentVariable("SystemRoot") + "/system32");
        // a row before may have taken it away
        QFile::rename(system32.filePath("tasklist.off"), system32.filePath("tasklist.exe"));
        QVERIFY(QFile::exists(system32.filePath("tasklist.exe")));
        if (!present)
            QVERIFY(QFile::rename(system32.filePath("tasklist.exe"),
                                  system32.filePath("tasklist.off")));
        QFile::remove(system32.filePath("tasklist.args"));
        for (const auto &file : {qMakePair(QString("tasklist.running"), running),
                                 qMakePair(QString("tasklist.hung"), hung)}) {
            QFile f(system32.filePath(file.first));
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(file.second.toLatin1());
        }

        ProcessWatcher watcher;
        QCOMPARE(watcher.check("tovel3-w.exe"), result);
        QFile args(system32.filePath("tasklist.args"));
        const QStringList expected =
            QStringList{"/FI|IMAGENAME eq tovel3-w.exe|/FO|CSV|/NH",
                        "/FI|IMAGENAME eq tovel3-w.exe|/FI|STATUS eq NOT RESPONDING|/FO|CSV|/NH"}
                .mid(0, runs);
        QCOMPARE(
            args.open(QIODevice::ReadOnly)
                ? QString::fromLatin1(args.readAll()).remove('\r').split('\n', Qt::SkipEmptyParts)
                : QStringList(),
            expected);
#endif
    }
};

TOVEL3_TEST_MAIN(ProcessWatcherTest)
#include "tst_processwatcher.moc"
