#include "support/testenvironment.h"
#include "support/testfiles.h"
#include "support/unprivileged.h"
#include "window/settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
using TestFiles::contents;
using TestFiles::writeFile;

QString url(const QString &path)
{
    return QUrl::fromLocalFile(path).toString();
}

QString storePath()
{
    return QSettings().fileName();
}

void write(const QVariantMap &values)
{
    QSettings store;
    for (auto it = values.begin(); it != values.end(); ++it)
        store.setValue(it.key(), it.value());
}

QString read(const QString &key)
{
    return QSettings().value(key).toString();
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QSettings store;
        store.clear();
        store.sync();
        QCOMPARE(store.status(), QSettings::NoError);
    }

    void storeLivesInUserConfiguration()
    {
        QCOMPARE(storePath(), TestEnvironment::home() + "/.config/Brennic/Tovel3.conf");
    }

    void exportImportRoundTrip()
    {
        QTemporaryDir dir(TestEnvironment::home() + "/export XXXXXX");
        SettingsTransfer settings;
        write({{"UI/Language", "ru"},
               {"monitor", "Служба наблюдения"},
               {"ping/url", "127.0.0.1"},
               {"ping/timeout", 1000},
               {"visible", false},
               {"logging/size", 5242880},
               {"names", QStringList{"alpha", "beta", "гамма"}},
               {"ratio", 0.25},
               {"tab", "a\tb\nc"}});

        QVERIFY(settings.exportSettings(url(dir.path() + "/backup")));
        const QString exported = dir.path() + "/backup.ini";
        QVERIFY(QFile::exists(exported));
        QVERIFY(!QFile::exists(dir.path() + "/backup"));
        // Readable text, not escapes.
        QVERIFY(contents(exported).contains("Служба наблюдения"));

        QSettings store;
        store.clear();
        store.setValue("extra", "kept");
        store.setValue("monitor", "other");
        store.sync();

        QVERIFY(settings.importSettings(url(exported)));
        QCOMPARE(read("UI/Language"), QString("ru"));
        QCOMPARE(read("monitor"), QString("Служба наблюдения"));
        QCOMPARE(read("ping/url"), QString("127.0.0.1"));
        QCOMPARE(QSettings().value("ping/timeout").toInt(), 1000);
        QCOMPARE(QSettings().value("visible", true).toBool(), false);
        QCOMPARE(read("logging/size"), QString("5242880"));
        QCOMPARE(QSettings().value("names").toStringList(),
                 (QStringList{"alpha", "beta", "гамма"}));
        QCOMPARE(read("extra"), QString("kept"));
        QCOMPARE(read("ratio"), QString("0.25"));
        QCOMPARE(read("tab"), QString("a\tb\nc"));

        // Committed: a store read from disk alone sees the imported values.
        const QString copy = dir.path() + "/store-copy.ini";
        QVERIFY(QFile::copy(storePath(), copy));
        QSettings fromDisk(copy, QSettings::IniFormat);
        QCOMPARE(fromDisk.value("monitor").toString(), QString("Служба наблюдения"));
        QCOMPARE(fromDisk.value("ping/timeout").toInt(), 1000);
        QCOMPARE(fromDisk.value("extra").toString(), QString("kept"));
    }

    void exportFileName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("written");
        QTest::newRow("no extension") << "settings"
                                      << "settings.ini";
        QTest::newRow("ini") << "settings.ini"
                             << "settings.ini";
        QTest::newRow("INI upper case") << "settings.INI"
                                        << "settings.INI";
        QTest::newRow("mixed case") << "settings.Ini"
                                    << "settings.Ini";
        QTest::newRow("other extension") << "settings.txt"
                                         << "settings.txt.ini";
        QTest::newRow("ini inside name") << "settings.ini.bak"
                                         << "settings.ini.bak.ini";
    }

    void exportFileName()
    {
        QFETCH(QString, name);
        QFETCH(QString, written);
        QTemporaryDir dir(TestEnvironment::home() + "/export-XXXXXX");
        SettingsTransfer settings;
        write({{"monitor", "svc"}});
        QVERIFY(settings.exportSettings(url(dir.path() + "/" + name)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{written});
        QVERIFY(contents(dir.path() + "/" + written).contains("monitor=svc"));
    }

    void exportKeepsKeysAlreadyInFile()
    {
        QTemporaryDir dir(TestEnvironment::home() + "/export-XXXXXX");
        const QString path = dir.path() + "/old.ini";
        QVERIFY(writeFile(path, "[General]\nforeign=1\nmonitor=old\n"));
        SettingsTransfer settings;
        write({{"monitor", "new"}});
        settings.exportSettings(url(path));
        QSettings ini(path, QSettings::IniFormat);
        QCOMPARE(ini.value("foreign").toString(), QString("1"));
        QCOMPARE(ini.value("monitor").toString(), QString("new"));
    }

    void exportToNonFileUrlWritesNothing()
    {
        QTemporaryDir dir(TestEnvironment::home() + "/cwd-XXXXXX");
        const QString before = QDir::currentPath();
        QDir::setCurrent(dir.path());
        SettingsTransfer settings;
        write({{"monitor", "svc"}});
        QVERIFY(!settings.exportSettings("not a url"));
        QVERIFY(!settings.exportSettings(""));
        // Under a regular file nothing can be written either: said, not hidden.
        QVERIFY(writeFile(dir.path() + "/file", "x"));
        QVERIFY(!settings.exportSettings(url(dir.path() + "/file/settings.ini")));
        QFile::remove(dir.path() + "/file");
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QDir::setCurrent(before);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(',')));
    }

    void importMergesAndAcceptsByteOrderMark()
    {
        QTemporaryDir dir(TestEnvironment::home() + "/import-XXXXXX");
        const QString path = dir.path() + "/in.ini";
        QVERIFY(writeFile(path, "\xEF\xBB\xBFping/url=127.0.0.2\n[logging]\nsize=32\n"));
        SettingsTransfer settings;
        write({{"monitor", "svc"}});
        write({{"ping/url", "127.0.0.1"}});
        QVERIFY(settings.importSettings(url(path)));
        QCOMPARE(read("ping/url"), QString("127.0.0.2"));
        QCOMPARE(read("logging/size"), QString("32"));
        QCOMPARE(read("monitor"), QString("svc"));
    }

    void importOfNothingSucceedsUnchanged_data()
    {
        QTest::addColumn<bool>("create");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("missing file") << false << QByteArray();
        QTest::newRow("empty file") << true << QByteArray();
        QTest::newRow("comments and blank lines") << true << QByteArray("; note\n\n# other\n");
    }

    void importOfNothingSucceedsUnchanged()
    {
        QFETCH(bool, create);
        QFETCH(QByteArray, data);
        QTemporaryDir dir(TestEnvironment::home() + "/import-XXXXXX");
        const QString path = dir.path() + "/in.ini";
        if (create)
            QVERIFY(writeFile(path, data));
        SettingsTransfer settings;
        write({{"monitor", "svc"}});
        const QByteArray before = contents(storePath());
        QVERIFY(settings.importSettings(url(path)));
        QCOMPARE(contents(storePath()), before);
        QCOMPARE(read("monitor"), QString("svc"));
        QCOMPARE(QFile::exists(path), create);
    }

    void importRefused_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("unclosed section") << QByteArray("[logging\nsize=1\n");
        QTest::newRow("line without assignment") << QByteArray("monitor=x\nthis is not ini\n");
        QTest::newRow("plain text") << QByteArray("Dear user,\nhello.\n");
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR=\x01\x02", 20);
        QTest::newRow("NUL in value") << QByteArray("monitor=a\0b\n", 12);
        QTest::newRow("not UTF-8") << QByteArray("monitor=\xe9t\xe9\n");
    }

    void importRefused()
    {
        QFETCH(QByteArray, data);
        QTemporaryDir dir(TestEnvironment::home() + "/import-XXXXXX");
        const QString path = dir.path() + "/in.ini";
        QVERIFY(writeFile(path, data));
        SettingsTransfer settings;
        write({{"monitor", "svc"}});
        write({{"logging/size", 64}});
        const QByteArray before = contents(storePath());

        // Trying again, as one does after "Settings import failed", fails again.
        QVERIFY(!settings.importSettings(url(path)));
        QVERIFY(!settings.importSettings(url(path)));
        QVERIFY(!SettingsTransfer().importSettings(url(path)));
        QCOMPARE(contents(storePath()), before);
        QCOMPARE(read("monitor"), QString("svc"));
        QCOMPARE(read("logging/size"), QString("64"));
        QCOMPARE(QSettings().allKeys().size(), 2);
    }

    void importRefusesWhatIsNoFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("not a url") << "in.ini";
        QTest::newRow("empty") << "";
        QTest::newRow("web address") << "http://127.0.0.1/in.ini";
        QTest::newRow("directory") << url(TestEnvironment::home());
    }

    void importRefusesWhatIsNoFile()
    {
        QFETCH(QString, file);
        SettingsTransfer settings;
        write({{"monitor", "svc"}});
        const QByteArray before = contents(storePath());
        QVERIFY(!settings.importSettings(file));
        QCOMPARE(contents(storePath()), before);
    }

    // A FIFO never yields an end of file: opening or reading it would hang the
    // GUI thread, and with it the heartbeat.
    void fifoIsNeitherImportedNorExported()
    {
        QTemporaryDir dir(TestEnvironment::home() + "/fifo-XXXXXX");
        const QString fifo = dir.path() + "/in.ini";
        QCOMPARE(::mkfifo(QFile::encodeName(fifo), 0600), 0);
        // Held open so that nothing blocks even if the FIFO were used.
        const int fd = ::open(QFile::encodeName(fifo), O_RDWR | O_NONBLOCK);
        QVERIFY(fd >= 0);
        SettingsTransfer settings;
        write({{"monitor", "svc"}});
        const QByteArray before = contents(storePath());
        QVERIFY(!settings.importSettings(url(fifo)));
        QVERIFY(!settings.exportSettings(url(fifo)));
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        ::close(fd);
        QCOMPARE(n, ssize_t(-1));
        QCOMPARE(contents(storePath()), before);
        struct stat st = {};
        QCOMPARE(::lstat(QFile::encodeName(fifo), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    }

    void storeWithWrongPermissions()
    {
        if (Unprivileged::rerun("storeWithWrongPermissions"))
            return;
        const QString store = storePath();
        SettingsTransfer settings;
        write({{"monitor", "kept"}});
        const QByteArray original = contents(store);
        QVERIFY(original.contains("monitor=kept"));

        QTemporaryDir dir(TestEnvironment::home() + "/import-XXXXXX");
        const QString importFile = dir.path() + "/in.ini";
        QVERIFY(writeFile(importFile, "monitor=imported\n"));

        // Read-only store: the import fails, the file stays.
        QVERIFY(QFile::setPermissions(store, QFile::ReadOwner));
        QVERIFY(!settings.importSettings(url(importFile)));
        QCOMPARE(read("monitor"), QString("kept"));

        // Unreadable store: nothing overwrites what it holds.
        QVERIFY(QFile::setPermissions(store, QFile::WriteOwner));
        QVERIFY(!SettingsTransfer().importSettings(url(importFile)));

        QVERIFY(QFile::setPermissions(store, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(contents(store), original);
        // Once the permissions are right again the import goes through.
        QVERIFY(settings.importSettings(url(importFile)));
        QCOMPARE(read("monitor"), QString("imported"));
    }

    void storePathBlockedByDirectory()
    {
        // Works for any user: the store's file name is taken by a directory.
        const QString store = storePath();
        QFile::remove(store);
        QVERIFY(QDir().mkpath(store));
        {
            SettingsTransfer settings;
            write({{"monitor", "svc"}});
            QCOMPARE(read("monitor"), QString("svc"));
            QTemporaryDir dir(TestEnvironment::home() + "/import-XXXXXX");
            QVERIFY(writeFile(dir.path() + "/in.ini", "monitor=imported\n"));
            QVERIFY(!settings.importSettings(url(dir.path() + "/in.ini")));
            QCOMPARE(read("monitor"), QString("svc"));
        }
        QVERIFY(QDir().rmdir(store));
    }
};

TOVEL3_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
