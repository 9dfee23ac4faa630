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

    // Each case's folder for the files it exports and imports.
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SettingsTransfer> transfer;

    QString file(const QString &name) const { return dir->path() + "/" + name; }

private slots:
    // Every case starts from a store of two keys.
    void init()
    {
        QSettings store;
        store.clear();
        store.setValue("monitor", "svc");
        store.setValue("logging/size", 64);
        store.sync();
        QCOMPARE(store.status(), QSettings::NoError);
        dir = std::make_unique<QTemporaryDir>(TestEnvironment::home() + "/transfer XXXXXX");
        QVERIFY(dir->isValid());
        transfer = std::make_unique<SettingsTransfer>();
    }

    void exportImportRoundTrip()
    {
        QCOMPARE(storePath(), TestEnvironment::home() + "/.config/Brennic/Tovel3.conf");
        write({{"UI/Language", "ru"},
               {"monitor", "Служба наблюдения"},
               {"ping/url", "127.0.0.1"},
               {"ping/timeout", 1000},
               {"visible", false},
               {"logging/size", 5242880},
               {"names", QStringList{"alpha", "beta", "гамма"}},
               {"ratio", 0.25},
               {"tab", "a\tb\nc"}});

        QVERIFY(transfer->exportSettings(url(file("backup"))));
        const QString exported = file("backup.ini");
        QVERIFY(QFile::exists(exported));
        QVERIFY(!QFile::exists(file("backup")));
        // Readable text, not escapes.
        QVERIFY(contents(exported).contains("Служба наблюдения"));

        QSettings store;
        store.clear();
        store.setValue("extra", "kept");
        store.setValue("monitor", "other");
        store.sync();

        QVERIFY(transfer->importSettings(url(exported)));
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
        const QString copy = file("store-copy.ini");
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
        QVERIFY(transfer->exportSettings(url(file(name))));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{written});
        QVERIFY(contents(file(written)).contains("monitor=svc"));
    }

    void exportKeepsKeysAlreadyInFile()
    {
        QVERIFY(writeFile(file("old.ini"), "[General]\nforeign=1\nmonitor=old\n"));
        QVERIFY(transfer->exportSettings(url(file("old.ini"))));
        QSettings ini(file("old.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value("foreign").toString(), QString("1"));
        QCOMPARE(ini.value("monitor").toString(), QString("svc"));
    }

    void exportToNonFileUrlWritesNothing()
    {
        const QString before = QDir::currentPath();
        QDir::setCurrent(dir->path());
        QVERIFY(!transfer->exportSettings("not a url"));
        QVERIFY(!transfer->exportSettings(""));
        // Under a regular file nothing can be written either: said, not hidden.
        QVERIFY(writeFile(file("file"), "x"));
        QVERIFY(!transfer->exportSettings(url(file("file/settings.ini"))));
        QFile::remove(file("file"));
        const QStringList left = QDir(dir->path()).entryList(QDir::Files | QDir::Hidden);
        QDir::setCurrent(before);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(',')));
    }

    void importMergesAndAcceptsByteOrderMark()
    {
        QVERIFY(writeFile(file("in.ini"), "\xEF\xBB\xBFping/url=127.0.0.2\n[logging]\nsize=32\n"));
        write({{"ping/url", "127.0.0.1"}});
        QVERIFY(transfer->importSettings(url(file("in.ini"))));
        QCOMPARE(read("ping/url"), QString("127.0.0.2"));
        QCOMPARE(read("logging/size"), QString("32"));
        QCOMPARE(read("monitor"), QString("svc"));
    }

    // Nothing to import succeeds, anything else not an INI file is refused:
    // either way the store stays as it was.
    void importLeavesStoreAlone_data()
    {
        QTest::addColumn<QString>("address"); // "@": the case's folder as a file URL
        QTest::addColumn<QByteArray>("data"); // of @/in.ini; null: no such file
        QTest::addColumn<bool>("accepted");
        const QString in = "@/in.ini";
        QTest::newRow("missing file") << in << QByteArray() << true;
        QTest::newRow("empty file") << in << QByteArray("") << true;
        QTest::newRow("comments and blank lines")
            << in << QByteArray("; note\n\n# other\n") << true;
        QTest::newRow("unclosed section") << in << QByteArray("[logging\nsize=1\n") << false;
        QTest::newRow("line without assignment")
            << in << QByteArray("monitor=x\nthis is not ini\n") << false;
        QTest::newRow("plain text") << in << QByteArray("Dear user,\nhello.\n") << false;
        QTest::newRow("binary") << in << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR=\x01\x02", 20)
                                << false;
        QTest::newRow("NUL in value") << in << QByteArray("monitor=a\0b\n", 12) << false;
        QTest::newRow("not UTF-8") << in << QByteArray("monitor=\xe9t\xe9\n") << false;
        const QByteArray ini("monitor=x\n");
        QTest::newRow("not a url") << "in.ini" << ini << false;
        QTest::newRow("empty") << "" << ini << false;
        QTest::newRow("web address") << "http://127.0.0.1/in.ini" << ini << false;
        QTest::newRow("directory") << "@" << ini << false;
    }

    void importLeavesStoreAlone()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, data);
        QFETCH(bool, accepted);
        if (!data.isNull())
            QVERIFY(writeFile(file("in.ini"), data));
        address.replace("@", url(dir->path()));
        const QByteArray before = contents(storePath());

        // Trying again, as one does after "Settings import failed", fails again.
        QCOMPARE(transfer->importSettings(address), accepted);
        QCOMPARE(transfer->importSettings(address), accepted);
        QCOMPARE(SettingsTransfer().importSettings(address), accepted);
        QCOMPARE(contents(storePath()), before);
        QCOMPARE(QSettings().allKeys(), (QStringList{"logging/size", "monitor"}));
        QCOMPARE(read("monitor"), QString("svc"));
        QCOMPARE(read("logging/size"), QString("64"));
        QCOMPARE(QFile::exists(file("in.ini")), !data.isNull());
    }

    // A FIFO never yields an end of file: opening or reading it would hang the
    // GUI thread, and with it the heartbeat.
    void fifoIsNeitherImportedNorExported()
    {
        const QString fifo = file("in.ini");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo), 0600), 0);
        // Held open so that nothing blocks even if the FIFO were used.
        const int fd = ::open(QFile::encodeName(fifo), O_RDWR | O_NONBLOCK);
        QVERIFY(fd >= 0);
        const QByteArray before = contents(storePath());
        QVERIFY(!transfer->importSettings(url(fifo)));
        QVERIFY(!transfer->exportSettings(url(fifo)));
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
        const QByteArray original = contents(store);
        QVERIFY(original.contains("monitor=svc"));
        const QString importFile = url(file("in.ini"));
        QVERIFY(writeFile(file("in.ini"), "monitor=imported\n"));

        // Read-only store: the import fails, the file stays.
        QVERIFY(QFile::setPermissions(store, QFile::ReadOwner));
        QVERIFY(!transfer->importSettings(importFile));
        QCOMPARE(read("monitor"), QString("svc"));

        // Unreadable store: nothing overwrites what it holds.
        QVERIFY(QFile::setPermissions(store, QFile::WriteOwner));
        QVERIFY(!SettingsTransfer().importSettings(importFile));

        QVERIFY(QFile::setPermissions(store, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(contents(store), original);
        // Once the permissions are right again the import goes through.
        QVERIFY(transfer->importSettings(importFile));
        QCOMPARE(read("monitor"), QString("imported"));
    }

    void storePathBlockedByDirectory()
    {
        // Works for any user: the store's file name is taken by a directory.
        const QString store = storePath();
        QFile::remove(store);
        QVERIFY(QDir().mkpath(store));
        {
            SettingsTransfer blocked;
            write({{"monitor", "kept"}});
            QCOMPARE(read("monitor"), QString("kept"));
            QVERIFY(writeFile(file("in.ini"), "monitor=imported\n"));
            QVERIFY(!blocked.importSettings(url(file("in.ini"))));
            QCOMPARE(read("monitor"), QString("kept"));
        }
        QVERIFY(QDir().rmdir(store));
    }
};

TOVEL3_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
