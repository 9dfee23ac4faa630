// Runs on Windows too.
#include "storage/appsettings.h"
#include "storage/journal.h"
#include "support/testenvironment.h"
#include "support/testfiles.h"

#include <QApplication>
#include <QMetaProperty>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
// Stores the text in the form the pages of earlier versions wrote it in (a
// flag as a boolean, a number as an int, anything else as text): files and
// registries hold it so.
void writeAsEarlierPages(const QString &key, const QString &text,
                         const QString &type = QStringLiteral("string"))
{
    QVariant value = text;
    if (type == QLatin1String("int"))
        value = text.toInt();
    else if (type == QLatin1String("bool"))
        value = text.toLower() == QLatin1String("true");
    QSettings store;
    store.setValue(key, value);
    store.sync();
}

using TestFiles::contents;
using TestFiles::writeFile;

QMetaMethod notifier(const char *property)
{
    const QMetaObject &meta = AppSettings::staticMetaObject;
    return meta.property(meta.indexOfProperty(property)).notifySignal();
}

// Every key of the store as a file read from the disk alone shows it (the
// process keeps the store itself in a cache). The registry is read afresh.
QVariantMap onDisk()
{
#ifdef Q_OS_WIN
    QSettings file;
#else
    QTemporaryDir dir(TestEnvironment::home() + "/copy-XXXXXX");
    const QString copy = dir.path() + "/copy.conf";
    QFile::copy(QSettings().fileName(), copy);
    QSettings file(copy, QSettings::IniFormat);
#endif
    QVariantMap keys;
    for (const QString &key : file.allKeys())
        keys.insert(key, file.value(key));
    return keys;
}
} // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QSettings store;
        store.clear();
        store.sync();
    }

    void keys_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("byDefault");
        // As the pages write it through the text-typed element.
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariant>("value");

        const auto flag = [](const char *property, const char *key, bool byDefault) {
            QTest::newRow(key) << QByteArray(property) << key << QVariant(byDefault)
                               << (byDefault ? "false" : "true") << "bool" << QVariant(!byDefault);
        };
        const auto number = [](const char *property, const char *key, int byDefault, int value) {
            QTest::newRow(key) << QByteArray(property) << key << QVariant(byDefault)
                               << QString::number(value) << "int" << QVariant(value);
        };
        const auto text = [](const char *property, const char *key, const char *byDefault,
                             const QString &value) {
            QTest::newRow(key) << QByteArray(property) << key << QVariant(byDefault) << value
                               << "string" << QVariant(value);
        };
        flag("showAtStart", "visible", true);
        flag("softwareRendering", "softgl", false);
        flag("legacyMode", "legacy", false);
        number("legacyT1", "t1", 5, 12);
        text("port", "port", "", "/dev/ttyACM0");
        flag("pingEnabled", "ping/on", false);
        text("pingAddress", "ping/url", "127.0.0.1", "192.0.2.7");
        number("pingTimeout", "ping/timeout", 1000, 2200);
        text("processName", "monitor", "", "Служба наблюдения");
        flag("processCheckEnabled", "monitoron", false);
        text("processOwner", "monitorowner", "", "operator");
        flag("manualControl", "manualon", false);
        flag("ledOff", "ledoff", false);
        flag("timerSuspended", "timerstop", false);
        flag("loggingEnabled", "logging/enable", false);
        number("logSizeMb", "logging/size", 64, 1024);
        number("logBackups", "logging/count", 3, 16);
        flag("logNetwork", "logging/network", false);
        flag("logProcess", "logging/process", false);
        text("language", "UI/Language", "en", "ru");
        text("updateUrl", "Update/URL", "", "https://127.0.0.1:8443/appcast.xml");
        QTest::newRow("Update/LastCheck")
            << QByteArray("lastUpdateCheck") << "Update/LastCheck" << QVariant(QDateTime())
            << "2024-05-01T10:00:00Z"
            << "string" << QVariant(QDateTime(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC));
        text("metricsDir", "metrics/dir", "", "/var/lib/tovel3");
        text("extraPorts", "extraports", "", "COM5,/dev/ttyUSB0");
    }

    void keys()
    {
        QFETCH(QByteArray, property);
        QFETCH(QString, key);
        QFETCH(QVariant, byDefault);
        QFETCH(QString, text);
        QFETCH(QString, type);
        QFETCH(QVariant, value);

        AppSettings settings;
        QCOMPARE(settings.property(property), byDefault);

        // Written as earlier pages wrote it: seen at once through this object,
        // and read the same from the file.
        writeAsEarlierPages(key, text, type);
        QCOMPARE(settings.property(property), value);
        const QVariant stored = QSettings().value(key);
#ifndef Q_OS_WIN // the registry is no file to copy
        const QString copy = TestEnvironment::home() + "/copy.conf";
        QFile::remove(copy);
        QVERIFY(QFile::copy(QSettings().fileName(), copy));
        QCOMPARE(AppSettings(QSettings::IniFormat, copy).property(property), value);
#endif

        // Written through the property: the same stored form, committed,
        // announced once.
        init();
        AppSettings writer;
        QSignalSpy spy(&writer, notifier(property));
        QVERIFY(writer.setProperty(property, value));
        QVERIFY(writer.setProperty(property, value));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().first(), value);
        const QVariant written = QSettings().value(key);
        QCOMPARE(written.userType(), stored.userType());
        QCOMPARE(written, stored);
        QCOMPARE(onDisk().value(key).toString(), text);
    }

    void storedFormsRead_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("expected");
        const auto row = [](const char *name, const char *property, const char *key,
                            const QVariant &stored, const QVariant &expected) {
            QTest::newRow(name) << QByteArray(property) << QString(key) << stored << expected;
        };
        row("t1 below", "legacyT1", "t1", -1, 0);
        row("t1 above", "legacyT1", "t1", 16, 15);
        row("t1 garbage", "legacyT1", "t1", "five", 5);
        row("ping timeout below", "pingTimeout", "ping/timeout", 50, 200);
        row("ping timeout above", "pingTimeout", "ping/timeout", 10000, 2500);
        row("log size zero", "logSizeMb", "logging/size", 0, 0);
        row("log size above", "logSizeMb", "logging/size", 4096, 2048);
        row("log size 64-bit", "logSizeMb", "logging/size", quint64(5242880000), 2048);
        row("log count above", "logBackups", "logging/count", 500, 128);
        row("flag imported in capitals", "loggingEnabled", "logging/enable", "TRUE", true);
        row("flag as 1", "showAtStart", "visible", "1", false);
        row("flag reset", "showAtStart", "visible", QVariant(), false);
        row("last check garbage", "lastUpdateCheck", "Update/LastCheck", "yesterday", QDateTime());
        // Names as an earlier version saved them, typed.
        row("address", "pingAddress", "ping/url", " 192.0.2.7 ", "192.0.2.7");
        row("process", "processName", "monitor", "\tnautilus\n", "nautilus");
        row("process with a space inside", "processName", "monitor", "Web Content ", "Web Content");
        row("owner", "processOwner", "monitorowner", " operator", "operator");
    }

    void storedFormsRead()
    {
        QFETCH(QByteArray, property);
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, expected);

        QSettings().setValue(key, stored);
        AppSettings settings;
        QCOMPARE(settings.property(property), expected);

        // Writes keep the same limits.
        if (stored.userType() == QMetaType::Int || expected.userType() == QMetaType::QString) {
            QVERIFY(settings.setProperty(property, stored));
            const QVariant written = QSettings().value(key);
            QCOMPARE(written.userType(), expected.userType());
            QCOMPARE(written, expected);
        }
    }

    void oldPingAddressConverted_data()
    {
        QTest::addColumn<QVariant>("oldUrl");
        QTest::addColumn<QString>("pingUrl");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("address");

        QTest::newRow("localhost") << QVariant("localhost") << QString() << false << "127.0.0.1";
        QTest::newRow("address") << QVariant("192.0.2.7") << QString() << true << "192.0.2.7";
        QTest::newRow("address with spaces")
            << QVariant(" 192.0.2.7 ") << QString() << true << "192.0.2.7";
        QTest::newRow("spaces only") << QVariant("  ") << QString() << false << "127.0.0.1";
        QTest::newRow("no old key") << QVariant() << QString() << false << "127.0.0.1";
        QTest::newRow("converted before")
            << QVariant("192.0.2.9") << "192.0.2.8" << false << "192.0.2.8";
    }

    void oldPingAddressConverted()
    {
        QFETCH(QVariant, oldUrl);
        QFETCH(QString, pingUrl);
        QFETCH(bool, on);
        QFETCH(QString, address);
        {
            QSettings store;
            if (oldUrl.isValid())
                store.setValue("url", oldUrl);
            if (!pingUrl.isEmpty())
                store.setValue("ping/url", pingUrl);
        }

        AppSettings settings;
        QCOMPARE(settings.pingEnabled(), on);
        QCOMPARE(settings.pingAddress(), address);

        const QVariantMap disk = onDisk();
        QCOMPARE(disk.value("ping/url").toString(), address);
        if (pingUrl.isEmpty()) {
#ifndef Q_OS_WIN // the registry holds a flag as text
            QCOMPARE(QSettings().value("ping/on").userType(), int(QMetaType::Bool));
#endif
            QCOMPARE(disk.value("ping/on").toString(), QString(on ? "true" : "false"));
            QVERIFY(!disk.contains("url"));
        } else {
            // Once converted, nothing is converted again.
            QVERIFY(!disk.contains("ping/on"));
            QCOMPARE(disk.value("url"), oldUrl);
        }
    }

    void changesElsewhereSeenAndAnnouncedOnReload()
    {
        AppSettings settings;
        AppSettings other;
        QSignalSpy timeouts(&settings, &AppSettings::pingTimeoutChanged);
        QSignalSpy names(&settings, &AppSettings::processNameChanged);

        other.setPingTimeout(1500);
        writeAsEarlierPages("monitor", "svc");
        QCOMPARE(settings.pingTimeout(), 1500);
        QCOMPARE(settings.processName(), QString("svc"));
        QCOMPARE(timeouts.count(), 0);

        settings.reload();
        QCOMPARE(timeouts.count(), 1);
        QCOMPARE(timeouts.first().first(), QVariant(1500));
        QCOMPARE(names.count(), 1);
        settings.reload();
        QCOMPARE(timeouts.count() + names.count(), 2);
    }

    void fileGivenByPath()
    {
        QTemporaryDir dir(TestEnvironment::home() + "/config-XXXXXX");
        const QString path = dir.path() + "/tovel3.ini";
        QVERIFY(writeFile(path, "[General]\nmonitor=Служба наблюдения\nt1=7\n"));

        AppSettings settings(QSettings::IniFormat, path);
        QCOMPARE(settings.fileName(), path);
        QCOMPARE(settings.status(), QSettings::NoError);
        QCOMPARE(settings.processName(), QString("Служба наблюдения"));
        QCOMPARE(settings.legacyT1(), 7);

        settings.setPingTimeout(1500);
        const QByteArray written = contents(path);
        QVERIFY(written.contains("timeout=1500"));
        QVERIFY(written.contains("monitor=Служба наблюдения"));
        QVERIFY(QSettings().allKeys().isEmpty());

        // Another program changes the file.
        QSignalSpy spy(&settings, &AppSettings::legacyT1Changed);
        QVERIFY(writeFile(path, QByteArray(written).replace("t1=7", "t1=12")));
        settings.reload();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(settings.legacyT1(), 12);
    }

    // The service's file is the administrator's and wins: the state file
    // keeps only what the service changes at run time of the keys the file
    // leaves out, and what cannot be kept is said.
    void runTimeChangesOverAReadOnlyFile()
    {
#ifdef Q_OS_WIN
        QSKIP("the service, which keeps a state file, runs on Linux only");
#endif
        QTemporaryDir dir(TestEnvironment::home() + "/config-XXXXXX");
        const QString path = dir.path() + "/tovel3.conf";
        const QString state = dir.path() + "/state/state.conf";
        const QByteArray admin = "[General]\nport=/dev/ttyACM0\ntimerstop=false\nmonitor=sshd\n";
        QVERIFY(writeFile(path, admin));
        QVERIFY(QDir().mkpath(dir.path() + "/state"));
        QVERIFY(writeFile(state, "[General]\nport=/dev/ttyACM7\n")); // an earlier version's

        AppSettings settings(QSettings::IniFormat, path, state);
        QCOMPARE(settings.port(), QString("/dev/ttyACM0"));
        QCOMPARE(settings.unkeptReason(AppSettings::Key::TimerSuspended, true),
                 path + " sets timerstop");
        QCOMPARE(settings.unkeptReason(AppSettings::Key::TimerSuspended, false), QString());
        QCOMPARE(settings.unkeptReason(AppSettings::Key::LedOff, true), QString());
        settings.setTimerSuspended(true);
        settings.setPort(QStringLiteral("/dev/serial/by-id/usb-board"));
        settings.setLedOff(true);
        QCOMPARE(contents(path), admin);
        QVERIFY(!contents(state).contains("timerstop"));
        QVERIFY(contents(state).contains("ledoff=true"));

        AppSettings later(QSettings::IniFormat, path, state);
        QVERIFY(!later.timerSuspended());
        QCOMPARE(later.port(), QString("/dev/ttyACM0"));
        QVERIFY(later.ledOff());
        QCOMPARE(later.processName(), QString("sshd"));
        QCOMPARE(later.storeProblem(), QString());

        // A state directory that cannot be had: a file stands in its way.
        const QString blocked = dir.path() + "/blocked";
        QVERIFY(writeFile(blocked, ""));
        AppSettings stuck(QSettings::IniFormat, path, blocked + "/state.conf");
        const QString why = blocked + "/state.conf";
        QVERIFY2(stuck.storeProblem().startsWith("cannot write " + why),
                 qPrintable(stuck.storeProblem()));
        QCOMPARE(stuck.unkeptReason(AppSettings::Key::LedOff, true), stuck.storeProblem());
    }

    // Both programs size the journal from the settings alike.
    void journalSettingsApplied_data()
    {
        QTest::addColumn<QVariant>("size");
        QTest::addColumn<QVariant>("count");
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<quint32>("backups");
        QTest::newRow("defaults") << QVariant() << QVariant() << quint64(64 * 1048576) << 3u;
        QTest::newRow("size 0: the least the journal takes")
            << QVariant(0) << QVariant(0) << quint64(131072) << 0u;
        QTest::newRow("above the limits")
            << QVariant(4096) << QVariant(500) << quint64(2147483648ULL) << 128u;
        QTest::newRow("unreadable")
            << QVariant("lots") << QVariant("") << quint64(64 * 1048576) << 3u;
    }

    void journalSettingsApplied()
    {
        QFETCH(QVariant, size);
        QFETCH(QVariant, count);
        QFETCH(quint64, bytes);
        QFETCH(quint32, backups);
        QSettings store;
        if (size.isValid())
            store.setValue("logging/size", size);
        if (count.isValid())
            store.setValue("logging/count", count);
        store.setValue("logging/enable", true);
        store.sync();
        Journal journal;
        journal.setPaused(true);
        AppSettings().applyToJournal(&journal);
        QCOMPARE(journal.getMaxSize(), bytes);
        QCOMPARE(journal.getBackupCount(), backups);
        QVERIFY(!journal.isPaused());
    }
};

TOVEL3_TEST_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
