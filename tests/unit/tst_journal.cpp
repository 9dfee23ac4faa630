// Runs on Windows too.
#include "storage/journal.h"
#include "support/testenvironment.h"
#include "support/testfiles.h"
#ifdef Q_OS_UNIX
#include "support/unprivileged.h"
#endif
#include "window/qmlhost.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocale>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
[[maybe_unused]] int irregularWarnings = 0; // FIFOs: not on Windows

const quint64 Limit = 131072;
using TagMap = QMap<int, QByteArray>;

using TestFiles::contents;
using TestFiles::writeFile;

// Whole lines of a given size that start with a recognisable tag.
QByteArray tagged(const QByteArray &tag, int size)
{
    QByteArray data = tag + '\n';
    data.append(QByteArray(qMax(0, size - data.size() - 2), 'x'));
    data.append("\r\n");
    return data;
}

QString stamp(const QDateTime &t)
{
    return QLocale::system().toString(t, QStringLiteral("ddd MMM d hh:mm:ss t yyyy "));
}
} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString logFile;

    // A journal on logFile with the smallest size limit and no time stamps.
    void prepare(Journal &journal, quint32 backups)
    {
        journal.setLogFile(logFile);
        journal.setWriteTimeStamp(false);
        journal.setMaxSize(Limit);
        journal.setBackupCount(backups);
    }

private slots:
    void init()
    {
        dir.reset(new QTemporaryDir(TestEnvironment::home() + "/journal-XXXXXX"));
        QVERIFY(dir->isValid());
        logFile = dir->path() + "/tovel3.log";
    }

    void cleanup()
    {
        // Leave nothing read-only behind after a failure, or the tree stays.
        QDirIterator it(dir->path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        while (it.hasNext())
            QFile::setPermissions(it.next(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        dir.reset();
    }

    void initialState()
    {
        Journal journal(nullptr, QString());
        QCOMPARE(journal.getLogFile(), QString());
        QCOMPARE(journal.isPaused(), false);
        QCOMPARE(journal.getMaxSize(), quint64(67108864));
        QCOMPARE(journal.getWriteTimeStamp(), true);
        QCOMPARE(journal.getBackupCount(), quint32(3));
        // Without a file name an entry goes nowhere.
        journal.log("lost");

        Journal named(nullptr, logFile);
        QCOMPARE(named.getLogFile(), logFile);
        QVERIFY(!QFile::exists(logFile));
    }

    void limits_data()
    {
        QTest::addColumn<QString>("setter");
        QTest::addColumn<quint64>("argument");
        QTest::addColumn<quint64>("expected");
        const auto row = [](const char *name, const char *setter, quint64 argument,
                            quint64 expected) {
            QTest::newRow(name) << QString(setter) << argument << expected;
        };
        row("MB 0", "MB", 0, 131072);
        row("MB 1", "MB", 1, 1048576);
        row("MB 2047", "MB", 2047, quint64(2047) * 1048576);
        row("MB 2048", "MB", 2048, 2147483648);
        row("MB 2049", "MB", 2049, 2147483648);
        row("MB wraps in 64 bits", "MB", quint64(1) << 44, 2147483648);
        row("MB largest", "MB", ~quint64(0), 2147483648);
        row("bytes 131071", "bytes", 131071, 131072);
        row("bytes 131072", "bytes", 131072, 131072);
        row("bytes 131073", "bytes", 131073, 131073);
        row("bytes 2 GiB", "bytes", 2147483648, 2147483648);
        row("bytes 2 GiB + 1", "bytes", 2147483649, 2147483648);
        row("backups 0", "backups", 0, 0);
        row("backups 128", "backups", 128, 128);
        row("backups 129", "backups", 129, 128);
        row("backups largest", "backups", ~quint32(0), 128);
    }

    void limits()
    {
        QFETCH(QString, setter);
        QFETCH(quint64, argument);
        QFETCH(quint64, expected);
        Journal journal(nullptr, QString());
        if (setter == "MB")
            journal.setMaxSizeMB(argument);
        else if (setter == "bytes")
            journal.setMaxSize(argument);
        else
            journal.setBackupCount(quint32(argument));
        QCOMPARE(setter == "backups" ? journal.getBackupCount() : journal.getMaxSize(), expected);
    }

    void rotation_data()
    {
        QTest::addColumn<quint32>("backups");
        QTest::addColumn<int>("currentSize");
        QTest::addColumn<QList<int>>("oldFiles");
        // Index of each old file afterwards -> tag of the file it holds
        // ("cur" is the journal file as it was before the entry).
        QTest::addColumn<TagMap>("expected");
        QTest::addColumn<bool>("rotated");

        using M = TagMap;
        const int over = int(Limit) + 10;
        QTest::newRow("below limit")
            << quint32(3) << int(Limit) - 1 << QList<int>{0} << M{{0, "old0"}} << false;
        QTest::newRow("exactly at limit")
            << quint32(3) << int(Limit) << QList<int>{} << M{{0, "cur"}} << true;
        QTest::newRow("three kept, none yet")
            << quint32(3) << over << QList<int>{} << M{{0, "cur"}} << true;
        QTest::newRow("three kept, all present") << quint32(3) << over << QList<int>{0, 1, 2}
                                                 << M{{0, "cur"}, {1, "old0"}, {2, "old1"}} << true;
        QTest::newRow("gap after first") << quint32(3) << over << QList<int>{0, 2}
                                         << M{{0, "cur"}, {1, "old0"}, {2, "old2"}} << true;
        QTest::newRow("first missing") << quint32(3) << over << QList<int>{1, 2}
                                       << M{{0, "cur"}, {1, "old1"}, {2, "old2"}} << true;
        QTest::newRow("beyond the gap untouched")
            << quint32(3) << over << QList<int>{0, 1, 3}
            << M{{0, "cur"}, {1, "old0"}, {2, "old1"}, {3, "old3"}} << true;
        QTest::newRow("count lowered")
            << quint32(2) << over << QList<int>{0, 1, 2, 3} << M{{0, "cur"}, {1, "old0"}} << true;
        QTest::newRow("five kept, shifting")
            << quint32(5) << over << QList<int>{0, 1, 2}
            << M{{0, "cur"}, {1, "old0"}, {2, "old1"}, {3, "old2"}} << true;
        QTest::newRow("one kept, replaced")
            << quint32(1) << over << QList<int>{0} << M{{0, "cur"}} << true;
        QTest::newRow("one kept, stale second")
            << quint32(1) << over << QList<int>{0, 1} << M{{0, "cur"}} << true;
        QTest::newRow("none kept") << quint32(0) << over << QList<int>{} << M{} << true;
        QTest::newRow("none kept, old copy untouched")
            << quint32(0) << over << QList<int>{0} << M{{0, "old0"}} << true;
    }

    void rotation()
    {
        QFETCH(quint32, backups);
        QFETCH(int, currentSize);
        QFETCH(QList<int>, oldFiles);
        QFETCH(TagMap, expected);
        QFETCH(bool, rotated);

        Journal journal(nullptr, QString());
        prepare(journal, backups);
        const QByteArray current = tagged("cur", currentSize);
        QVERIFY(writeFile(logFile, current));
        for (int i : oldFiles)
            QVERIFY(writeFile(logFile + "." + QString::number(i),
                              tagged("old" + QByteArray::number(i), 100)));

        journal.log("entry");

        QCOMPARE(contents(logFile), rotated ? QByteArray("entry\r\n") : current + "entry\r\n");
        TagMap found;
        const QStringList names = QDir(dir->path()).entryList({"tovel3.log.*"}, QDir::Files);
        for (const QString &name : names) {
            const QByteArray data = contents(dir->path() + "/" + name);
            found.insert(name.section('.', -1).toInt(), data.left(data.indexOf('\n')));
        }
        QCOMPARE(found, expected);
        if (expected.contains(0) && expected[0] == "cur")
            QCOMPARE(contents(logFile + ".0"), current);
    }

    void settersRotateEvenWhilePaused_data()
    {
        QTest::addColumn<bool>("bySize");
        QTest::newRow("size") << true;
        QTest::newRow("backups") << false;
    }

    void settersRotateEvenWhilePaused()
    {
        QFETCH(bool, bySize);
        Journal journal(nullptr, logFile);
        journal.setPaused(true);
        const QByteArray current = tagged("cur", int(Limit) + 1);
        QVERIFY(writeFile(logFile, current));
        if (bySize) {
            journal.setMaxSize(Limit);
        } else {
            journal.setMaxSize(Limit * 2);
            QVERIFY(QFile::exists(logFile));
            QVERIFY(writeFile(logFile, tagged("cur", int(Limit) * 2)));
            journal.setBackupCount(2);
        }
        QVERIFY(!QFile::exists(logFile));
        QVERIFY(contents(logFile + ".0").startsWith("cur\n"));
    }

    void noEntryLostOverManyRotations()
    {
        Journal journal(nullptr, QString());
        prepare(journal, 20);
        const QByteArray filler(900, 'y');
        const int entries = 1000; // about seven files' worth
        for (int i = 0; i < entries; ++i)
            journal.log(QString::number(i) + " " + filler);

        QByteArray all;
        int files = 0;
        for (int i = 19; i >= 0; --i) {
            const QString old = logFile + "." + QString::number(i);
            if (QFile::exists(old)) {
                const QByteArray data = contents(old);
                // At most one entry beyond the limit.
                QVERIFY(quint64(data.size()) < Limit + 1000);
                all += data;
                ++files;
            }
        }
        all += contents(logFile);
        QVERIFY(files >= 6);
        const QList<QByteArray> lines = all.split('\n');
        QCOMPARE(lines.size(), entries + 1);
        for (int i = 0; i < entries; ++i)
            QCOMPARE(lines[i], QByteArray::number(i) + " " + filler + "\r");
    }

    // Each entry is one CRLF-ended line of UTF-8, taken as it is; one cut
    // short (a full disk, a crash) does not swallow the next.
    void lines_data()
    {
        QTest::addColumn<QByteArray>("before"); // the file's content; null: no file
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("plain") << QByteArray() << "application started"
                               << QByteArray("application started\r\n");
        QTest::newRow("Russian") << QByteArray() << QString::fromUtf8("Сеть доступна")
                                 << QByteArray(
                                        "\xd0\xa1\xd0\xb5\xd1\x82\xd1\x8c \xd0\xb4\xd0\xbe\xd1\x81"
                                        "\xd1\x82\xd1\x83\xd0\xbf\xd0\xbd\xd0\xb0\r\n");
        QTest::newRow("line break kept") << QByteArray() << "a\nb" << QByteArray("a\nb\r\n");
        QTest::newRow("empty message") << QByteArray() << "" << QByteArray("\r\n");
        QTest::newRow("percent and escapes")
            << QByteArray() << "100% \\n %1" << QByteArray("100% \\n %1\r\n");
        QTest::newRow("ends mid-line")
            << QByteArray("cut ent") << "next" << QByteArray("cut ent\r\nnext\r\n");
        QTest::newRow("ends between CR and LF")
            << QByteArray("cut\r") << "next" << QByteArray("cut\r\nnext\r\n");
        QTest::newRow("ends in LF alone")
            << QByteArray("prev\n") << "next" << QByteArray("prev\nnext\r\n");
        QTest::newRow("whole line")
            << QByteArray("prev\r\n") << "next" << QByteArray("prev\r\nnext\r\n");
        QTest::newRow("empty file") << QByteArray("") << "next" << QByteArray("next\r\n");
    }

    void lines()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, message);
        QFETCH(QByteArray, after);
        if (!before.isNull())
            QVERIFY(writeFile(logFile, before));
        Journal journal(nullptr, logFile);
        journal.setWriteTimeStamp(false);
        journal.log(message);
        QCOMPARE(contents(logFile), after);
    }

    // Opening a FIFO for writing waits for a reader: start-up would hang.
    void irregularFileIsNotLogged()
    {
#ifndef Q_OS_UNIX
        QSKIP("no FIFOs in a Windows file system");
#else
        QCOMPARE(::mkfifo(QFile::encodeName(logFile), 0600), 0);
        // Held open so that nothing blocks even if the FIFO were written.
        const int fd = ::open(QFile::encodeName(logFile), O_RDWR | O_NONBLOCK);
        QVERIFY(fd >= 0);
        Journal journal(nullptr, logFile);
        journal.setWriteTimeStamp(false);
        irregularWarnings = 0;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &) {
                irregularWarnings += type == QtWarningMsg;
            });
        for (int i = 0; i < 3; ++i)
            journal.log("lost");
        qInstallMessageHandler(previous);
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        ::close(fd);
        QCOMPARE(n, ssize_t(-1));
        QCOMPARE(irregularWarnings, 1);

        QVERIFY(QFile::remove(logFile));
        journal.log("back");
        QCOMPARE(contents(logFile), QByteArray("back\r\n"));
#endif
    }

    void timeStamp()
    {
        Journal journal(nullptr, logFile);
        const QDateTime before = QDateTime::currentDateTime();
        journal.log(QString::fromUtf8("приложение запущено"));
        const QDateTime after = QDateTime::currentDateTime();
        const QByteArray line = contents(logFile);
        const QByteArray message = QString::fromUtf8("приложение запущено").toUtf8() + "\r\n";
        QVERIFY(line.endsWith(message));
        const QString prefix = QString::fromUtf8(line.left(line.size() - message.size()));
        QVERIFY2(prefix == stamp(before) || prefix == stamp(after), qPrintable(prefix));
        if (QLocale::system().language() == QLocale::C ||
            QLocale::system().language() == QLocale::English) {
            // The zone as Windows names it has words ("Greenwich Standard Time").
            const QRegularExpression shape(
                "^[A-Z][a-z]{2} [A-Z][a-z]{2} [1-9][0-9]? "
                "[0-2][0-9]:[0-5][0-9]:[0-5][0-9] \\S+( \\S+)* [0-9]{4} $");
            QVERIFY2(shape.match(prefix).hasMatch(), qPrintable(prefix));
        }
    }

    void pausedJournalWritesNothing()
    {
        Journal journal(nullptr, QString());
        prepare(journal, 3);
        QSignalSpy spy(&journal, &Journal::paused);
        const QByteArray over = tagged("cur", int(Limit) + 5);
        QVERIFY(writeFile(logFile, over));

        journal.setPaused(true);
        QVERIFY(journal.isPaused());
        journal.log("while paused");
        QCOMPARE(contents(logFile), over);
        QVERIFY(!QFile::exists(logFile + ".0"));

        journal.setPaused(false);
        QVERIFY(!journal.isPaused());
        journal.log("resumed");
        QCOMPARE(contents(logFile), QByteArray("resumed\r\n"));
        QCOMPARE(contents(logFile + ".0"), over);

        journal.setPaused(true);
        journal.setPaused(true);
        journal.log("again paused");
        journal.setPaused(false);
        journal.log("again resumed");
        QCOMPARE(contents(logFile), QByteArray("resumed\r\nagain resumed\r\n"));
        QCOMPARE(spy.size(), 4);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QCOMPARE(spy.at(1).at(0).toBool(), false);
    }

    void setupUsesApplicationDataByDefault()
    {
        const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
#ifdef Q_OS_UNIX
        QCOMPARE(appData, TestEnvironment::home() + "/.local/share/Brennic/Tovel3");
#endif
        QVERIFY(appData.endsWith("/Brennic/Tovel3"));
        QDir(appData).removeRecursively();

        Journal journal(nullptr, QString());
        QSignalSpy spy(&journal, &Journal::fileChanged);
        journal.setup(QString(), "tovel3.log");
        QCOMPARE(journal.getLogFile(), appData + "/tovel3.log");
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), appData + "/tovel3.log");
        QVERIFY(QFileInfo(appData).isDir());
        journal.setWriteTimeStamp(false);
        journal.log("started");
        QCOMPARE(contents(appData + "/tovel3.log"), QByteArray("started\r\n"));
    }

    void setupChoosesDirectory_data()
    {
        QTest::addColumn<QString>("logdir");
        QTest::addColumn<bool>("used");
        QTest::newRow("existing") << "." << true;
        QTest::newRow("created with parents") << "a/b/c" << true;
        QTest::newRow("not creatable") << "blocker/sub" << false;
    }

    void setupChoosesDirectory()
    {
        QFETCH(QString, logdir);
        QFETCH(bool, used);
        QVERIFY(writeFile(dir->path() + "/blocker", "a regular file"));
        const QString path = QDir::cleanPath(dir->path() + "/" + logdir);
        Journal journal(nullptr, QString());
        journal.setup(path, "events.log");
        const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QCOMPARE(journal.getLogFile(), (used ? path : appData) + "/events.log");
        QCOMPARE(QFileInfo(path).isDir(), used);
    }

    void directoryNotCreatableThenFixed()
    {
        const QString blocker = dir->path() + "/blocker";
        QVERIFY(writeFile(blocker, "a regular file"));
        const QString file = blocker + "/logs/tovel3.log";
        Journal journal(nullptr, file);
        journal.setWriteTimeStamp(false);
        journal.setMaxSize(Limit);
        journal.log("lost");
        QCOMPARE(contents(blocker), QByteArray("a regular file"));

        QVERIFY(QFile::remove(blocker));
        journal.log("first kept");
        journal.log("second kept");
        QCOMPARE(contents(file), QByteArray("first kept\r\nsecond kept\r\n"));
    }

    void failedRotationKeepsEntry()
    {
        // A directory in the place of the first old copy blocks the rotation.
        Journal journal(nullptr, QString());
        prepare(journal, 1);
        const QByteArray over = tagged("cur", int(Limit) + 1);
        QVERIFY(writeFile(logFile, over));
        QVERIFY(QDir().mkdir(logFile + ".0"));
        journal.log("kept");
        QCOMPARE(contents(logFile), over + "kept\r\n");

        QVERIFY(QDir().rmdir(logFile + ".0"));
        journal.log("after rotation");
        QCOMPARE(contents(logFile), QByteArray("after rotation\r\n"));
        QCOMPARE(contents(logFile + ".0"), over + "kept\r\n");
    }

    void readOnlyDirectory()
    {
#ifndef Q_OS_UNIX
        QSKIP("read-only folders are Unix permissions here");
#else
        if (Unprivileged::rerun("readOnlyDirectory"))
            return;
        const QString logs = dir->path() + "/logs";
        QVERIFY(QDir().mkdir(logs));
        const QString file = logs + "/tovel3.log";
        Journal journal(nullptr, file);
        journal.setWriteTimeStamp(false);
        journal.setMaxSize(Limit);
        journal.setBackupCount(2);
        const auto readOnly = QFile::ReadOwner | QFile::ExeOwner;
        const auto writable = readOnly | QFile::WriteOwner;

        QVERIFY(QFile::setPermissions(logs, readOnly));
        journal.log("lost");
        QVERIFY(!QFile::exists(file));

        QVERIFY(QFile::setPermissions(logs, writable));
        journal.log("one");
        QCOMPARE(contents(file), QByteArray("one\r\n"));

        // The file itself stays writable, but it cannot be rotated now: the
        // entries go on into it rather than being dropped.
        QVERIFY(writeFile(file, tagged("cur", int(Limit))));
        QVERIFY(QFile::setPermissions(logs, readOnly));
        journal.log("two");
        QCOMPARE(contents(file).right(8), QByteArray("x\r\ntwo\r\n"));
        QVERIFY(!QFile::exists(file + ".0"));

        QVERIFY(QFile::setPermissions(logs, writable));
        journal.log("three");
        QCOMPARE(contents(file), QByteArray("three\r\n"));
        QVERIFY(contents(file + ".0").endsWith("two\r\n"));

        // A journal file that cannot be opened loses its entries only.
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
        journal.log("four");
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
        journal.log("five");
        QCOMPARE(contents(file), QByteArray("three\r\nfive\r\n"));
#endif
    }

    void fileShownToQml()
    {
        Journal journal(nullptr, QString());
        journal.setup(dir->path(), "qml.log");
        QmlHost::registerTypes();
        QQmlEngine engine;
        QmlHost::publishApp(&engine, nullptr, &journal);
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.0\nimport Tovel3 1.0\n"
                          "QtObject { property string file: App.journal.file }\n",
                          QUrl("qrc:/journaltest.qml"));
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        QCOMPARE(object->property("file").toString(), dir->path() + "/qml.log");
        // Set again, even to the same file, it is announced again.
        QSignalSpy spy(&journal, &Journal::fileChanged);
        journal.setLogFile(dir->path() + "/qml.log");
        journal.setLogFile(dir->path() + "/other.log");
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy.at(0).at(0).toString(), dir->path() + "/qml.log");
        QCOMPARE(object->property("file").toString(), dir->path() + "/other.log");
    }
};

TOVEL3_TEST_MAIN(TestJournal)
#include "tst_journal.moc"
