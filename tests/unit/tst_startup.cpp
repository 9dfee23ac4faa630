// Runs the real tovel3 executable as a process, each run in a throwaway HOME
// and TMPDIR, and checks what start-up leaves in the settings store and the
// journal.
#include "integration/singleapphandler.h"
#include "service/commandline.h"
#include "storage/appsettings.h"
#include "storage/journal.h"
#include "support/testenvironment.h"
#include "window/qmlhost.h"
#include "window/startup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QRegularExpression>
#include <QSettings>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
const char *const absent = "<absent>";

// One sandbox per run: its own HOME (which keeps the single-instance marker
// and socket apart from every other test), XDG tree and TMPDIR.
class Sandbox
{
public:
    // A short base keeps the socket path within the 107 bytes a local socket allows.
    Sandbox()
        : dir("/tmp/t-XXXXXX")
    {
        for (const char *d : {"home/.config/Brennic", "home/.local/share", "home/.cache", "tmp"})
            QDir().mkpath(dir.path() + "/" + d);
        QDir().mkpath(runtime());
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString home() const { return dir.path() + "/home"; }
    QString tmp() const { return dir.path() + "/tmp"; }
    QString runtime() const { return dir.path() + "/tmp/run"; }
    QString confPath() const { return home() + "/.config/Brennic/Tovel3.conf"; }
    QString logDir() const { return home() + "/.local/share/Brennic/Tovel3"; }
    QString logPath() const { return logDir() + "/tovel3.log"; }
    QString socketPath() const
    {
        return home() + "/.cache/tovel3/" + QSysInfo::machineHostName() + "/instance";
    }

    QProcessEnvironment environment(const QString &locale = "en_US.UTF-8") const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LANGUAGE", "LC_MESSAGES", "LC_NUMERIC", "LC_CTYPE"})
            env.remove(name);
        env.insert("HOME", home());
        env.insert("XDG_CONFIG_HOME", home() + "/.config");
        env.insert("XDG_DATA_HOME", home() + "/.local/share");
        env.insert("XDG_CACHE_HOME", home() + "/.cache");
        env.insert("XDG_RUNTIME_DIR", runtime());
        env.insert("TMPDIR", tmp());
        env.insert("LANG", locale);
        env.insert("LC_ALL", locale);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_QUICK_BACKEND", "software");
        return env;
    }

    void presetSettings(const QVariantMap &values) const
    {
        QSettings s(confPath(), QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            s.setValue(it.key(), it.value());
    }

    QString logText() const
    {
        QFile f(logPath());
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(f.readAll());
    }

private:
    QTemporaryDir dir;
};

QString binary()
{
    return qEnvironmentVariable("TOVEL3_BIN");
}

// Starts the program and waits until it is the running instance (its
// server socket exists); a signal is handled cleanly from then on.
bool startInstance(QProcess &p, const Sandbox &box, const QStringList &args,
                   const QProcessEnvironment &env)
{
    p.setProcessEnvironment(env);
    p.start(binary(), args);
    if (!p.waitForStarted(10000))
        return false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        if (QFileInfo::exists(box.socketPath()))
            return true;
        if (p.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(20);
    }
    return false;
}

// Sends a signal and returns the exit code of a normal exit, -1 otherwise.
int stopWith(QProcess &p, int signalNumber)
{
    ::kill(static_cast<pid_t>(p.processId()), signalNumber);
    if (!p.waitForFinished(20000))
        return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QStringList journalMessages(const QString &text)
{
    QStringList messages;
    const QStringList lines = text.split("\r\n");
    for (const QString &line : lines) {
        if (line.isEmpty())
            continue;
        // "ddd MMM d hh:mm:ss t yyyy message": the message follows 6 fields.
        messages.append(line.section(' ', 6));
    }
    return messages;
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void qmlElements_data();
    void qmlElements();
    void appSingleton_data();
    void appSingleton();
    void standardOptions_data();
    void standardOptions();
    void languageSettled_data();
    void languageSettled();
    void settingsFromCommandLine_data();
    void settingsFromCommandLine();
    void journalLines_data();
    void journalLines();
    void journalLimits_data();
    void journalLimits();
    void headless_data();
    void headless();
    void userChosenPlatformIsKept_data();
    void userChosenPlatformIsKept();
    void irregularFilesDoNotBlock_data();
    void irregularFilesDoNotBlock();
    void outputReaderGone();
};

void TestStartup::initTestCase()
{
    QmlHost::registerTypes();
    QVERIFY2(QFileInfo(binary()).isExecutable(), "TOVEL3_BIN must name the tovel3 executable");
}

void TestStartup::qmlElements_data()
{
    QTest::addColumn<QString>("element");
    QTest::addColumn<QString>("className"); // empty: not creatable
    QTest::addColumn<QString>("error");

    const auto row = [](const char *name, const char *element, const char *className,
                        const char *error) {
        QTest::newRow(name) << QString(element) << QString(className) << QString(error);
    };
    // The serial port and the ping belong to the engine: QML cannot make
    // another one that would talk to the board or probe on its own.
    row("no serial channel", "SerialChannel", "", "SerialChannel is not a type");
    row("no ping", "PingProcess", "", "PingProcess is not a type");
    row("autostart", "AutoStarter", "AutoStarter", "");
    row("settings export and import", "SettingsTransfer", "SettingsTransfer", "");
    row("updater", "Updater", "Updater", "");
    row("tray icon", "QmlSystray", "TrayIcon", "");
    row("process", "SystemProcess", "SystemProcess", "");
    row("process model", "SystemProcessModel", "SystemProcessListModel", "");
    row("single-instance guard", "SingleAppHandler", "",
        "Cannot create an instance of SingleAppHandler from QML");
    row("journal", "Journal", "", "Cannot create an instance of Journal from QML");
    row("heartbeat", "Heartbeat", "", "The engine owns the heartbeat");
}

void TestStartup::qmlElements()
{
    QFETCH(QString, element);
    QFETCH(QString, className);
    QFETCH(QString, error);

    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(QString("import Tovel3 1.0\n%1 {}\n").arg(element).toUtf8(), QUrl());
    QScopedPointer<QObject> object(component.create());
    if (className.isEmpty()) {
        QVERIFY(!object);
        QVERIFY2(component.errorString().contains(error), qPrintable(component.errorString()));
    } else {
        QVERIFY2(object, qPrintable(component.errorString()));
        QCOMPARE(object->metaObject()->className(), className.toLatin1().constData());
    }
}

void TestStartup::appSingleton_data()
{
    QTest::addColumn<QVariantMap>("preset");
    QTest::addColumn<bool>("softwareRendering");
    QTest::addColumn<QString>("language");

    QTest::newRow("defaults") << QVariantMap() << false << "en";
    QTest::newRow("stored") << QVariantMap{{"softgl", true}, {"UI/Language", "xx"}} << true << "xx";
    QTest::newRow("stored as text")
        << QVariantMap{{"softgl", "false"}, {"UI/Language", "ru"}} << false << "ru";
}

void TestStartup::appSingleton()
{
    QFETCH(QVariantMap, preset);
    QFETCH(bool, softwareRendering);
    QFETCH(QString, language);

    {
        QSettings settings;
        settings.clear();
        for (auto it = preset.begin(); it != preset.end(); ++it)
            settings.setValue(it.key(), it.value());
    }
    SingleAppHandler server;
    Journal journal;
    auto *board = new QObject; // stands for the window host's view of the board
    QPointer<QObject> boardAlive(board);
    {
        QQmlEngine engine;
        QmlHost::publishApp(&engine, &server, &journal);
        QmlHost::publish(&engine, "Board", board);
        // What the program started with, not what is stored later.
        QSettings().clear();

        QQmlComponent component(&engine);
        component.setData("import QtQml 2.2\nimport Tovel3 1.0\n"
                          "QtObject { property var v: [App.version, App.buildDate, App.server,"
                          " App.journal, App.softwareRendering, App.language,"
                          " typeof App.server.incomingMessage, typeof App.journal.log, Board] }\n",
                          QUrl());
        QScopedPointer<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        const QVariantList v = object->property("v").toList();
        QCOMPARE(v.size(), 9);
        QCOMPARE(v[0].toString(), QString("3.3.4"));
        QVERIFY2(QRegularExpression("^[A-Z][a-z]{2} [ 123]\\d \\d{4}$")
                     .match(v[1].toString())
                     .hasMatch(),
                 qPrintable(v[1].toString()));
        QCOMPARE(v[2].value<QObject *>(), &server);
        QCOMPARE(v[3].value<QObject *>(), &journal);
        QCOMPARE(v[4].type(), QVariant::Bool);
        QCOMPARE(v[4].toBool(), softwareRendering);
        QCOMPARE(v[5].toString(), language);
        QCOMPARE(v.mid(6, 2), (QVariantList{"function", "function"}));
        QCOMPARE(v[8].value<QObject *>(), board);
    }
    // The engine leaves what it was given to its owner.
    QVERIFY(boardAlive);
    delete board;
}

void TestStartup::standardOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expectedOut");
    QTest::addColumn<QString>("expectedErr");

    QTest::newRow("version") << QStringList{"--version"} << 0 << QStringList{"Tovel3 3.3.4"}
                             << QString();
    QTest::newRow("help") << QStringList{"--help"} << 0
                          << QStringList{"--lang <lang>",
                                         "Set UI language to <lang>",
                                         "--softgl",
                                         "User software rendering instead of OpenGL",
                                         "--legacy",
                                         "Run in tovel2 compability mode",
                                         "--version"}
                          << QString();
    QTest::newRow("unknown option")
        << QStringList{"--bogus"} << 1 << QStringList() << QString("Unknown option 'bogus'");
}

void TestStartup::standardOptions()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expectedOut);
    QFETCH(QString, expectedErr);

    Sandbox box;
    QProcess p;
    p.setProcessEnvironment(box.environment());
    p.start(binary(), args);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), exitCode);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    for (const QString &text : expectedOut)
        QVERIFY2(out.contains(text), qPrintable(out));
    if (!expectedErr.isEmpty())
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(expectedErr));
    // The options end the process before any setting is written.
    QSettings stored(box.confPath(), QSettings::IniFormat);
    QVERIFY(!stored.contains("UI/Language"));
}

void TestStartup::languageSettled_data()
{
    QTest::addColumn<QVariant>("stored"); // invalid: no entry
    QTest::addColumn<bool>("given");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("settled");

    const auto row = [](const char *name, const QVariant &stored, const char *given,
                        const char *system, const char *settled) {
        QTest::newRow(name) << stored << (given != nullptr) << QString(given) << QString(system)
                            << QString(settled);
    };
    row("Russian system, first start", QVariant(), nullptr, "ru_RU", "ru");
    row("German system, first start", QVariant(), nullptr, "de_DE", "en");
    row("English system, first start", QVariant(), nullptr, "en_GB", "en");
    row("C locale, first start", QVariant(), nullptr, "C", "en");
    row("stored empty language left alone", "", nullptr, "ru_RU", "");
    row("stored English kept on Russian system", "en", nullptr, "ru_RU", "en");
    row("given language stored unchecked", "ru", "xx", "ru_RU", "xx");
    row("given language with country", QVariant(), "ru_RU", "en_US", "ru_RU");
}

void TestStartup::languageSettled()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, given);
    QFETCH(QString, value);
    QFETCH(QString, system);
    QFETCH(QString, settled);

    QTemporaryDir dir;
    const QString path = dir.filePath("store.conf");
    if (stored.isValid())
        QSettings(path, QSettings::IniFormat).setValue("UI/Language", stored);
    AppSettings settings(QSettings::IniFormat, path);
    QCOMPARE(CommandLine::settleLanguage(settings, given, value, QLocale(system)), settled);
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("UI/Language").toString(), settled);
}

// The program applies its options and the system's language to the store.
void TestStartup::settingsFromCommandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QVariantMap>("preset");
    QTest::addColumn<QVariantMap>("expected");

    const QVariantMap none;
    QTest::newRow("Russian system, first start")
        << QStringList() << "ru_RU.UTF-8" << none
        << QVariantMap{{"UI/Language", "ru"}, {"softgl", absent}, {"legacy", absent}};
    QTest::newRow("no option never writes false")
        << QStringList() << "en_US.UTF-8" << QVariantMap{{"softgl", true}, {"legacy", false}}
        << QVariantMap{{"softgl", "true"}, {"legacy", "false"}};
    QTest::newRow("all three") << QStringList{"--legacy", "--lang", "ru", "--softgl"}
                               << "de_DE.UTF-8" << none
                               << QVariantMap{{"UI/Language", "ru"},
                                              {"softgl", "true"},
                                              {"legacy", "true"}};
}

void TestStartup::settingsFromCommandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QString, locale);
    QFETCH(QVariantMap, preset);
    QFETCH(QVariantMap, expected);

    Sandbox box;
    box.presetSettings(preset);
    QProcess p;
    QVERIFY(startInstance(p, box, args, box.environment(locale)));
    QCOMPARE(stopWith(p, SIGTERM), 0);

    QSettings stored(box.confPath(), QSettings::IniFormat);
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (it.value().toString() == absent) {
            QVERIFY2(!stored.contains(it.key()), qPrintable(it.key()));
        } else {
            QVERIFY2(stored.contains(it.key()), qPrintable(it.key()));
            QCOMPARE(stored.value(it.key()).toString(), it.value().toString());
        }
    }
}

void TestStartup::journalLines_data()
{
    QTest::addColumn<QVariantMap>("preset");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QStringList>("expected"); // empty: no journal file at all

    const QStringList english = {"application started", "application is about to be closed",
                                 "application closed"};
    const QStringList russian = {"приложение запущено", "приложение будет закрыто",
                                 "приложение закрыто"};
    QTest::newRow("logging absent")
        << QVariantMap{{"UI/Language", "en"}} << "en_US.UTF-8" << int(SIGTERM) << QStringList();
    QTest::newRow("SIGTERM") << QVariantMap{{"logging/enable", true}} << "en_US.UTF-8"
                             << int(SIGTERM) << english;
    // Each signal of a stop ends it as cleanly.
    QTest::newRow("Russian interface, SIGINT")
        << QVariantMap{{"logging/enable", true}, {"UI/Language", "ru"}} << "en_US.UTF-8"
        << int(SIGINT) << russian;
    QTest::newRow("empty language on Russian system, SIGHUP")
        << QVariantMap{{"logging/enable", true}, {"UI/Language", ""}} << "ru_RU.UTF-8"
        << int(SIGHUP) << russian;
}

void TestStartup::journalLines()
{
    QFETCH(QVariantMap, preset);
    QFETCH(QString, locale);
    QFETCH(int, signalNumber);
    QFETCH(QStringList, expected);

    Sandbox box;
    box.presetSettings(preset);
    const QString storedLanguage = preset.value("UI/Language", QString(absent)).toString();
    QProcess p;
    QVERIFY(startInstance(p, box, {}, box.environment(locale)));
    if (!expected.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(box.logText().contains(expected.first()), 20000);
    QCOMPARE(stopWith(p, signalNumber), 0);

    if (expected.isEmpty()) {
        QVERIFY(!QFileInfo::exists(box.logPath()));
        return;
    }
    const QString text = box.logText();
    QVERIFY2(text.endsWith("\r\n"), qPrintable(text));
    // The main window may journal lines of its own in between.
    const QStringList messages = journalMessages(text);
    QVERIFY2(messages.size() >= 3, qPrintable(text));
    QCOMPARE(messages.first(), expected.at(0));
    QCOMPARE(messages.mid(messages.size() - 2), expected.mid(1));
    // The language store is not touched by loading the translators.
    if (storedLanguage != absent) {
        QSettings stored(box.confPath(), QSettings::IniFormat);
        QCOMPARE(stored.value("UI/Language").toString(), storedLanguage);
    }
}

void TestStartup::journalLimits_data()
{
    QTest::addColumn<QVariantMap>("preset");
    QTest::addColumn<int>("logBytes"); // size of the journal file before the start
    QTest::addColumn<int>("oldFiles"); // tovel3.log.0 .. .(n-1) before the start
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("missing");

    // How each setting maps to the journal's limits is tst_appsettings'
    // and tst_journal's: here, that start-up applies them before its first entry.
    const int kib = 1024;
    QTest::newRow("size 1: 900 KiB kept")
        << QVariantMap{{"logging/size", 1}} << 900 * kib << 0 << QStringList{"tovel3.log"}
        << QStringList{"tovel3.log.0"};
    QTest::newRow("size 1: 1100 KiB rotated") << QVariantMap{{"logging/size", 1}} << 1100 * kib << 0
                                              << QStringList{"tovel3.log.0"} << QStringList();
    // A file one byte under the limit is rotated by the first entry after
    // "application started", when the stored count already applies.
    QTest::newRow("count 500 is 128")
        << QVariantMap{{"logging/size", 0}, {"logging/count", 500}} << 128 * kib - 1 << 130
        << QStringList{"tovel3.log.0", "tovel3.log.127"}
        << QStringList{"tovel3.log.128", "tovel3.log.129", "tovel3.log.130"};
}

void TestStartup::journalLimits()
{
    QFETCH(QVariantMap, preset);
    QFETCH(int, logBytes);
    QFETCH(int, oldFiles);
    QFETCH(QStringList, present);
    QFETCH(QStringList, missing);

    Sandbox box;
    preset.insert("logging/enable", true);
    box.presetSettings(preset);
    QVERIFY(QDir().mkpath(box.logDir()));
    {
        QFile log(box.logPath());
        QVERIFY(log.open(QIODevice::WriteOnly));
        QCOMPARE(log.write(QByteArray(logBytes, 'x')), qint64(logBytes));
    }
    for (int i = 0; i < oldFiles; ++i) {
        QFile old(box.logPath() + "." + QString::number(i));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray::number(i));
    }

    QProcess p;
    QVERIFY(startInstance(p, box, {}, box.environment()));
    // The next entry (the port search's) may already have rotated the file.
    auto started = [&box] {
        QFile rotated(box.logPath() + ".0");
        return box.logText().contains("application started") ||
               (rotated.open(QIODevice::ReadOnly) &&
                rotated.readAll().contains("application started"));
    };
    QTRY_VERIFY_WITH_TIMEOUT(started(), 20000);
    QCOMPARE(stopWith(p, SIGTERM), 0);

    for (const QString &name : present)
        QVERIFY2(QFileInfo::exists(box.logDir() + "/" + name), qPrintable(name));
    for (const QString &name : missing)
        QVERIFY2(!QFileInfo::exists(box.logDir() + "/" + name), qPrintable(name));
    if (present.contains("tovel3.log.0")) {
        // The newest old file is the one that was there before.
        QFile newest(box.logPath() + ".0");
        QVERIFY(newest.open(QIODevice::ReadOnly));
        QVERIFY(newest.read(logBytes).count('x') == logBytes);
    }
    if (oldFiles > 1) {
        // The old files moved up by one.
        QFile second(box.logPath() + ".1");
        QVERIFY(second.open(QIODevice::ReadOnly));
        QCOMPARE(second.readAll(), QByteArray("0"));
    }
}

void TestStartup::headless_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("plain") << QStringList();
    QTest::newRow("software rendering asked for") << QStringList{"--softgl"};
}

void TestStartup::headless()
{
    QFETCH(QStringList, args);
    Sandbox box;
    box.presetSettings({{"logging/enable", true}});
    QProcessEnvironment env = box.environment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_QUICK_BACKEND"})
        env.remove(name);

    QProcess p;
    QVERIFY(startInstance(p, box, args, env));
    // Started without a display, the watchdog runs: it has restored the
    // port and is still there.
    QByteArray console;
    QTRY_VERIFY_WITH_TIMEOUT((console += p.readAllStandardError()).contains("Restoring port:"),
                             20000);
    QCOMPARE(p.state(), QProcess::Running);
    QCOMPARE(stopWith(p, SIGTERM), 0);
    QCOMPARE(journalMessages(box.logText()).last(), QString("application closed"));
}

void TestStartup::userChosenPlatformIsKept_data()
{
    QTest::addColumn<QString>("platformVariable");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("variable") << "xcb" << QStringList();
    QTest::newRow("argument") << QString() << QStringList{"-platform", "xcb"};
}

void TestStartup::userChosenPlatformIsKept()
{
    QFETCH(QString, platformVariable);
    QFETCH(QStringList, args);
    Sandbox box;
    box.presetSettings({{"logging/enable", true}});
    QProcessEnvironment env = box.environment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    if (!platformVariable.isEmpty())
        env.insert("QT_QPA_PLATFORM", platformVariable);

    // Without a display the chosen X11 platform cannot start; it is not
    // silently replaced by the offscreen one.
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(binary(), args);
    QVERIFY(p.waitForFinished(20000));
    QVERIFY(p.exitStatus() == QProcess::CrashExit || p.exitCode() != 0);
    QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("xcb"));
    QVERIFY(!QFileInfo::exists(box.logPath()));
}

// A FIFO in place of a file the program reads or appends to at start-up
// would block it for good: it starts anyway, tells why, and leaves it be.
void TestStartup::irregularFilesDoNotBlock_data()
{
    QTest::addColumn<QString>("fifo"); // "settings" or "journal"
    QTest::addColumn<QString>("warning");
    QTest::newRow("settings") << "settings"
                              << "Tovel3.conf is not a regular file";
    QTest::newRow("journal") << "journal"
                             << "tovel3.log is not a regular file";
}

void TestStartup::irregularFilesDoNotBlock()
{
    QFETCH(QString, fifo);
    QFETCH(QString, warning);
    Sandbox box;
    box.presetSettings({{"logging/enable", true}});
    const QString path = fifo == "settings" ? box.confPath() : box.logPath();
    QFile::remove(path);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QCOMPARE(::mkfifo(QFile::encodeName(path), 0600), 0);

    QProcess p;
    QVERIFY(startInstance(p, box, {}, box.environment()));
    // Started: the watchdog restores its port once the settings are read,
    // the journal is opened and the window is loaded.
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("Restoring port:"), 20000);
    QCOMPARE(p.state(), QProcess::Running);
    QCOMPARE(stopWith(p, SIGTERM), 0);
    err += p.readAllStandardError();
    QCOMPARE(QString::fromUtf8(err).count(warning), 1);
    struct stat st = {};
    QCOMPARE(::lstat(QFile::encodeName(path), &st), 0);
    QVERIFY(S_ISFIFO(st.st_mode));
}

// `tovel3 | head -1`, a closed terminal, a log collector that ends: the next
// console line must not end the watchdog. Its output goes into a pipe that
// nobody reads any more, and SIGPIPE starts at its default, as from a shell.
void TestStartup::outputReaderGone()
{
    Sandbox box;
    box.presetSettings({{"logging/enable", true}});
    int fds[2];
    QCOMPARE(::pipe2(fds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    QByteArray program = QFile::encodeName(binary());
    QList<QByteArray> variables;
    for (const QString &v : box.environment().toStringList())
        variables.append(v.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    char *argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, program.constData(), &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[0]);
    ::close(fds[1]);
    QCOMPARE(spawned, 0);

    int status = 0;
    bool gone = false; // reaped: waitpid() reports it only once
    const auto ended = [&] { return gone || (gone = ::waitpid(pid, &status, WNOHANG) == pid); };
    // The watchdog's console lines ("Available ports", "Restoring port") go
    // out just before it journals that it found no board.
    QTRY_VERIFY_WITH_TIMEOUT(box.logText().contains("No connected watchdogs detected") || ended(),
                             20000);
    QTest::qWait(100);
    ended();
    if (gone)
        QFAIL(qPrintable(QString("ended early: %1 %2")
                             .arg(WIFSIGNALED(status) ? "signal" : "exit code")
                             .arg(WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status))));
    ::kill(pid, SIGTERM);
    if (!QTest::qWaitFor(ended, 20000)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        QFAIL("SIGTERM did not end it");
    }
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
}

TOVEL3_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
