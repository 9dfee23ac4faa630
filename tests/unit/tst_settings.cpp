#include "window/settings.h"
#include "support/testenvironment.h"
#include "support/testfiles.h"
#include "support/unprivileged.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QQmlComponent>
#include <QQmlEngine>
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

    void writeConvertsByType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("text");

        QTest::newRow("int") << "int"
                             << "64" << QVariant(64) << "64";
        QTest::newRow("int negative") << "int"
                                      << "-7" << QVariant(-7) << "-7";
        QTest::newRow("int garbage") << "int"
                                     << "12abc" << QVariant(0) << "0";
        QTest::newRow("int_kb") << "int_kb"
                                << "5" << QVariant(quint64(5120)) << "5120";
        QTest::newRow("int_kb negative") << "int_kb"
                                         << "-5" << QVariant(quint64(0)) << "0";
        QTest::newRow("int_mb no overflow")
            << "int_mb"
            << "5000" << QVariant(quint64(5000) * 1048576) << "5242880000";
        QTest::newRow("int_mb largest")
            << "int_mb"
            << "4294967295" << QVariant(quint64(4294967295u) * 1048576) << "4503599626321920";
        QTest::newRow("int_mb too large") << "int_mb"
                                          << "4294967296" << QVariant(quint64(0)) << "0";
        QTest::newRow("bool TRUE") << "bool"
                                   << "TRUE" << QVariant(true) << "true";
        QTest::newRow("bool tRuE") << "bool"
                                   << "tRuE" << QVariant(true) << "true";
        QTest::newRow("bool 1") << "bool"
                                << "1" << QVariant(false) << "false";
        QTest::newRow("bool yes") << "bool"
                                  << "yes" << QVariant(false) << "false";
        QTest::newRow("color name") << "color"
                                    << "red" << QVariant(QColor(Qt::red)) << "#ff0000";
        QTest::newRow("color hex") << "color"
                                   << "#00ff80" << QVariant(QColor(0, 255, 128)) << "#00ff80";
        QTest::newRow("double") << "double"
                                << "2.5" << QVariant(2.5) << "2.5";
        QTest::newRow("double garbage") << "double"
                                        << "two" << QVariant(0.0) << "0";
        QTest::newRow("stringlist single") << "stringlist"
                                           << ";;one;" << QVariant(QStringList{"one"}) << "one";
        QTest::newRow("string") << "string"
                                << "COM3" << QVariant("COM3") << "COM3";
        QTest::newRow("unknown type") << "text"
                                      << "x;y" << QVariant("x;y") << "x;y";
        QTest::newRow("type case differs") << "Int"
                                           << "42" << QVariant("42") << "42";
        QTest::newRow("Russian") << "string"
                                 << "Проверка связи" << QVariant("Проверка связи")
                                 << "Проверка связи";
    }

    void writeConvertsByType()
    {
        QFETCH(QString, type);
        QFETCH(QString, value);
        QFETCH(QVariant, stored);
        QFETCH(QString, text);

        Settings settings;
        settings.write("group/key", value, type);
        QCOMPARE(settings.read("group/key", "default"), text);

        const QVariant v = QSettings().value("group/key");
        QCOMPARE(v.userType(), stored.userType());
        QCOMPARE(v, stored);
        // The write is committed before it returns.
        QVERIFY(contents(storePath()).contains("[group]\nkey="));
    }

    void stringListDropsEmptyParts()
    {
        Settings settings;
        settings.write("list", ";a;;b c;;", "stringlist");
        QCOMPARE(QSettings().value("list").toStringList(), (QStringList{"a", "b c"}));
    }

    void invalidColorIsStored()
    {
        Settings settings;
        settings.write("colour", "nosuchcolour", "color");
        QVERIFY(settings.hasKey("colour"));
        const QVariant v = QSettings().value("colour");
        QCOMPARE(v.userType(), int(QMetaType::QColor));
        QVERIFY(!v.value<QColor>().isValid());
    }

    void twoArgumentWriteStoresText()
    {
        Settings settings;
        settings.write("logging/size", "64");
        QCOMPARE(QSettings().value("logging/size").userType(), int(QMetaType::QString));
        QCOMPARE(settings.read("logging/size", "1"), QString("64"));
    }

    void readDefaults()
    {
        Settings settings;
        QCOMPARE(settings.read("port"), QString(""));
        QCOMPARE(settings.read("visible", "true"), QString("true"));
        QCOMPARE(settings.read("ping/url", "_default_compability_value_"),
                 QString("_default_compability_value_"));
        settings.write("ping/url", "127.0.0.1");
        QCOMPARE(settings.read("ping/url", "_default_compability_value_"), QString("127.0.0.1"));
    }

    void writtenValueSeenByOtherStores()
    {
        Settings a;
        Settings b;
        a.write("logging/enable", "true", "bool");
        QCOMPARE(b.read("logging/enable", "false"), QString("true"));
        QCOMPARE(QSettings().value("logging/enable", false).toBool(), true);
    }

    void resetKeepsKey()
    {
        Settings settings;
        settings.write("visible", "false", "bool");
        settings.reset("visible");
        QCOMPARE(settings.read("visible", "true"), QString(""));
        QVERIFY(settings.hasKey("visible"));
    }

    void hasKey_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("expected");
        QTest::newRow("exact") << "logging/size" << true;
        QTest::newRow("top level") << "monitor" << true;
        QTest::newRow("group letter case") << "Logging/size" << false;
        QTest::newRow("key letter case") << "logging/Size" << false;
        QTest::newRow("top level letter case") << "Monitor" << false;
        QTest::newRow("group only") << "logging" << false;
        QTest::newRow("absent") << "logging/count" << false;
    }

    void hasKey()
    {
        QFETCH(QString, key);
        QFETCH(bool, expected);
        Settings settings;
        settings.write("logging/size", "64", "int");
        settings.write("monitor", "svc");
        QCOMPARE(settings.hasKey(key), expected);
    }

    void removeKeyAndGroup()
    {
        Settings settings;
        settings.write("logging/size", "64", "int");
        settings.write("logging/count", "3", "int");
        settings.write("visible", "true", "bool");

        settings.remove("logging/size");
        QVERIFY(!settings.hasKey("logging/size"));
        QCOMPARE(settings.read("logging/size", "none"), QString("none"));
        QVERIFY(settings.hasKey("logging/count"));

        settings.remove("logging");
        QVERIFY(!settings.hasKey("logging/count"));
        QVERIFY(settings.hasKey("visible"));

        settings.flush();
        const QByteArray disk = contents(storePath());
        QVERIFY(!disk.contains("count"));
        QVERIFY(disk.contains("visible=true"));
    }

    void exportImportRoundTrip()
    {
        QTemporaryDir dir(TestEnvironment::home() + "/export XXXXXX");
        Settings settings;
        settings.write("UI/Language", "ru", "string");
        settings.write("monitor", "Служба наблюдения");
        settings.write("ping/url", "127.0.0.1");
        settings.write("ping/timeout", "1000", "int");
        settings.write("visible", "false", "bool");
        settings.write("logging/size", "5", "int_mb");
        settings.write("names", "alpha;beta;гамма", "stringlist");
        settings.write("accent", "#00ff80", "color");
        settings.write("ratio", "0.25", "double");
        settings.write("tab", "a\tb\nc");

        settings.exportSettings(url(dir.path() + "/backup"));
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
        QCOMPARE(settings.read("UI/Language"), QString("ru"));
        QCOMPARE(settings.read("monitor"), QString("Служба наблюдения"));
        QCOMPARE(settings.read("ping/url"), QString("127.0.0.1"));
        QCOMPARE(settings.read("ping/timeout"), QString("1000"));
        QCOMPARE(settings.read("visible", "true"), QString("false"));
        QCOMPARE(settings.read("logging/size"), QString("5242880"));
        QCOMPARE(QSettings().value("names").toStringList(),
                 (QStringList{"alpha", "beta", "гамма"}));
        QCOMPARE(settings.read("extra"), QString("kept"));
        QCOMPARE(settings.read("accent"), QString("#00ff80"));
        QCOMPARE(settings.read("ratio"), QString("0.25"));
        QCOMPARE(settings.read("tab"), QString("a\tb\nc"));

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
        Settings settings;
        settings.write("monitor", "svc");
        settings.exportSettings(url(dir.path() + "/" + name));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{written});
        QVERIFY(contents(dir.path() + "/" + written).contains("monitor=svc"));
    }

    void exportKeepsKeysAlreadyInFile()
    {
        QTemporaryDir dir(TestEnvironment::home() + "/export-XXXXXX");
        const QString path = dir.path() + "/old.ini";
        QVERIFY(writeFile(path, "[General]\nforeign=1\nmonitor=old\n"));
        Settings settings;
        settings.write("monitor", "new");
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
        Settings settings;
        settings.write("monitor", "svc");
        settings.exportSettings("not a url");
        settings.exportSettings("");
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QDir::setCurrent(before);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(',')));
    }

    void importMergesAndAcceptsByteOrderMark()
    {
        QTemporaryDir dir(TestEnvironment::home() + "/import-XXXXXX");
        const QString path = dir.path() + "/in.ini";
        QVERIFY(writeFile(path, "\xEF\xBB\xBFping/url=127.0.0.2\n[logging]\nsize=32\n"));
        Settings settings;
        settings.write("monitor", "svc");
        settings.write("ping/url", "127.0.0.1");
        QVERIFY(settings.importSettings(url(path)));
        QCOMPARE(settings.read("ping/url"), QString("127.0.0.2"));
        QCOMPARE(settings.read("logging/size"), QString("32"));
        QCOMPARE(settings.read("monitor"), QString("svc"));
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
        Settings settings;
        settings.write("monitor", "svc");
        const QByteArray before = contents(storePath());
        QVERIFY(settings.importSettings(url(path)));
        QCOMPARE(contents(storePath()), before);
        QCOMPARE(settings.read("monitor"), QString("svc"));
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
        Settings settings;
        settings.write("monitor", "svc");
        settings.write("logging/size", "64", "int");
        const QByteArray before = contents(storePath());

        // Trying again, as one does after "Settings import failed", fails again.
        QVERIFY(!settings.importSettings(url(path)));
        QVERIFY(!settings.importSettings(url(path)));
        QVERIFY(!Settings().importSettings(url(path)));
        QCOMPARE(contents(storePath()), before);
        QCOMPARE(settings.read("monitor"), QString("svc"));
        QCOMPARE(settings.read("logging/size"), QString("64"));
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
        Settings settings;
        settings.write("monitor", "svc");
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
        Settings settings;
        settings.write("monitor", "svc");
        const QByteArray before = contents(storePath());
        QVERIFY(!settings.importSettings(url(fifo)));
        settings.exportSettings(url(fifo));
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        ::close(fd);
        QCOMPARE(n, ssize_t(-1));
        QCOMPARE(contents(storePath()), before);
        struct stat st = {};
        QCOMPARE(::lstat(QFile::encodeName(fifo), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    }

    void usableFromQml()
    {
        qmlRegisterType<Settings>("Settings", 1, 0, "Settings");
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.0\n"
                          "import Settings 1.0\n"
                          "QtObject {\n"
                          "  property Settings store: Settings {}\n"
                          "  property var results: []\n"
                          "  Component.onCompleted: {\n"
                          "    store.write('logging/size', '64', 'int')\n"
                          "    store.write('monitor', 'svc')\n"
                          "    store.write('visible', 'TRUE', 'bool')\n"
                          "    results = [store.read('logging/size', '1'), store.read('monitor'),\n"
                          "               store.read('port'), store.read('visible', 'false'),\n"
                          "               store.hasKey('monitor'), store.hasKey('Monitor')]\n"
                          "  }\n"
                          "}\n",
                          QUrl("qrc:/settingstest.qml"));
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        const QVariantList results = object->property("results").toList();
        QCOMPARE(results, (QVariantList{"64", "svc", "", "true", true, false}));
        QCOMPARE(QSettings().value("logging/size").userType(), int(QMetaType::Int));
    }

    void storeWithWrongPermissions()
    {
        if (Unprivileged::rerun("storeWithWrongPermissions"))
            return;
        const QString store = storePath();
        Settings settings;
        settings.write("monitor", "kept");
        const QByteArray original = contents(store);
        QVERIFY(original.contains("monitor=kept"));

        QTemporaryDir dir(TestEnvironment::home() + "/import-XXXXXX");
        const QString importFile = dir.path() + "/in.ini";
        QVERIFY(writeFile(importFile, "monitor=imported\n"));

        // Read-only store: writes and imports fail quietly, the file stays.
        QVERIFY(QFile::setPermissions(store, QFile::ReadOwner));
        settings.write("ping/url", "127.0.0.1");
        QVERIFY(!settings.importSettings(url(importFile)));
        QCOMPARE(settings.read("monitor"), QString("kept"));
        QCOMPARE(Settings().read("monitor"), QString("kept"));

        // Unreadable store: nothing overwrites what it holds.
        QVERIFY(QFile::setPermissions(store, QFile::WriteOwner));
        Settings other;
        other.write("t1", "5", "int");
        other.flush();
        QVERIFY(!other.importSettings(url(importFile)));

        QVERIFY(QFile::setPermissions(store, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(contents(store), original);

        // Once the permissions are right again the pending writes are committed.
        settings.flush();
        QSettings::Status status = QSettings::AccessError;
        {
            QSettings check;
            check.sync();
            status = check.status();
        }
        QCOMPARE(status, QSettings::NoError);
        const QByteArray after = contents(store);
        QVERIFY(after.contains("monitor=kept"));
        QVERIFY(after.contains("url=127.0.0.1"));
        QVERIFY(after.contains("t1=5"));
        QVERIFY(settings.importSettings(url(importFile)));
        QCOMPARE(settings.read("monitor"), QString("imported"));
    }

    void storePathBlockedByDirectory()
    {
        // Works for any user: the store's file name is taken by a directory.
        const QString store = storePath();
        QFile::remove(store);
        QVERIFY(QDir().mkpath(store));
        {
            Settings settings;
            settings.write("monitor", "svc");
            QCOMPARE(settings.read("monitor"), QString("svc"));
            QTemporaryDir dir(TestEnvironment::home() + "/import-XXXXXX");
            QVERIFY(writeFile(dir.path() + "/in.ini", "monitor=imported\n"));
            QVERIFY(!settings.importSettings(url(dir.path() + "/in.ini")));
            QCOMPARE(settings.read("monitor"), QString("svc"));
        }
        QVERIFY(QDir().rmdir(store));
    }
};

TOVEL3_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
