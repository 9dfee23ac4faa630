#include "integration/autostarter.h"
#include "integration/xdgautostart.h"
#include "support/testenvironment.h"
#include "support/testfiles.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
// Reading of an Exec value as a desktop would do it, written here
// independently of the code under test.
QString unescapeString(const QString &raw)
{
    QString out;
    for (int i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) {
            const QChar n = raw[++i];
            out += n == 's'    ? QChar(' ')
                   : n == 'n'  ? QChar('\n')
                   : n == 't'  ? QChar('\t')
                   : n == 'r'  ? QChar('\r')
                   : n == '\\' ? QChar('\\')
                               : (out += '\\', n);
        } else {
            out += raw[i];
        }
    }
    return out;
}

QStringList splitExec(const QString &exec)
{
    QStringList args;
    QString cur;
    bool quoted = false, any = false;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size() && QString("\"`$\\").contains(exec[i + 1]))
                cur += exec[++i];
            else if (c == '"')
                quoted = false;
            else if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%')
                cur += exec[++i];
            else
                cur += c;
        } else if (c == '"') {
            quoted = any = true;
        } else if (c == ' ') {
            if (any)
                args << cur;
            cur.clear();
            any = false;
        } else if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
            cur += exec[++i];
            any = true;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any)
        args << cur;
    return args;
}

QString rawKey(const QByteArray &content, const QString &key)
{
    for (const QString &line : QString::fromUtf8(content).split('\n')) {
        if (line.startsWith(key + "="))
            return line.mid(key.size() + 1);
    }
    return QString();
}

using TestFiles::contents;

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

// The Exec line a user or an older installation could have left, with the
// quoting done by hand.
QByteArray quotedPath(const QString &path)
{
    return "\"" + path.toUtf8() + "\"";
}
} // namespace

class TestAutoStarter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void entryLocation();
    void existingEntry_data();
    void existingEntry();
    void switchOff_data();
    void switchOff();
    void switchOnTwice();
    void execQuoting_data();
    void execQuoting();
    void systemWideEntry();

private:
    QString entry;
    QString program;
    QTemporaryDir systemDirs;
};

void TestAutoStarter::initTestCase()
{
    QVERIFY(systemDirs.isValid());
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(systemDirs.path()));
    entry = XdgAutostart::entryFile();
    program = QCoreApplication::applicationFilePath();
    QVERIFY(entry.startsWith(TestEnvironment::home()));
}

void TestAutoStarter::init()
{
    QFile::remove(entry);
    QFile::remove(systemDirs.path() + "/autostart/BrennicTovel3.desktop");
}

void TestAutoStarter::entryLocation()
{
    QCOMPARE(entry, QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) +
                        "/autostart/BrennicTovel3.desktop");
    QCOMPARE(AutoStarter::executablePath(), program);
    QCOMPARE(AutoStarter::expectedCommand(program), QString::fromUtf8(quotedPath(program)));

    // Without an entry nothing is written by looking.
    AutoStarter a;
    a.checkAutostart();
    QVERIFY(!a.autostartSet());
    QVERIFY(!QFile::exists(entry));
}

void TestAutoStarter::existingEntry_data()
{
    QTest::addColumn<QByteArray>("exec");
    QTest::addColumn<QByteArray>("extra");
    QTest::addColumn<bool>("setBefore");
    QTest::addColumn<bool>("repaired");
    QTest::addColumn<bool>("setAfter");

    const QByteArray path = QCoreApplication::applicationFilePath().toUtf8();
    const QByteArray quoted = quotedPath(QCoreApplication::applicationFilePath());
    QTest::newRow("current program") << quoted << QByteArray() << true << false << true;
    QTest::newRow("spaces around =") << quoted << QByteArray() << true << false << true;
    QTest::newRow("without quotes") << path << QByteArray() << false << true << true;
    QTest::newRow("with an argument")
        << quoted + " --hidden" << QByteArray() << false << true << true;
    QTest::newRow("other letter case")
        << quotedPath(QString::fromUtf8(path).toUpper()) << QByteArray() << false << true << true;
    QTest::newRow("other executable")
        << QByteArray("\"/opt/old place/tovel3\"") << QByteArray() << false << true << true;
    QTest::newRow("hidden") << quoted << QByteArray("Hidden=true\n") << false << false << false;
    QTest::newRow("disabled by GNOME")
        << quoted << QByteArray("X-GNOME-Autostart-enabled=false\n") << false << false << false;
    QTest::newRow("stale and hidden")
        << QByteArray("/opt/old/tovel3") << QByteArray("Hidden=true\n") << false << false << false;
    QTest::newRow("enabled by GNOME")
        << quoted << QByteArray("X-GNOME-Autostart-enabled=true\n") << true << false << true;
    QTest::newRow("no command") << QByteArray() << QByteArray() << false << false << false;
}

void TestAutoStarter::existingEntry()
{
    QFETCH(QByteArray, exec);
    QFETCH(QByteArray, extra);
    QFETCH(bool, setBefore);
    QFETCH(bool, repaired);
    QFETCH(bool, setAfter);

    const bool spaced = QByteArray(QTest::currentDataTag()) == "spaces around =";
    QByteArray content = "# written by hand\n[Desktop Entry]\nType=Application\nName=Custom\n";
    if (!exec.isEmpty())
        content += (spaced ? "Exec = " : "Exec=") + exec + "\n";
    content += extra;
    content += "\n[Desktop Action other]\nExec=/bin/false\n";
    writeFile(entry, content);

    AutoStarter a;
    QCOMPARE(a.autostartSet(), setBefore);
    a.checkAutostart();
    const QByteArray after = contents(entry);
    QCOMPARE(after != content, repaired);
    QCOMPARE(a.autostartSet(), setAfter);
    if (repaired) {
        const QStringList args = splitExec(unescapeString(rawKey(after, "Exec")));
        QCOMPARE(args, QStringList{program});
        QVERIFY(!after.contains("Hidden=true"));
    }
}

void TestAutoStarter::switchOff_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("removed");
    QTest::newRow("current") << QByteArray("[Desktop Entry]\nType=Application\nName=T\nExec=") +
                                    quotedPath(QCoreApplication::applicationFilePath()) + "\n"
                             << true;
    QTest::newRow("foreign") << QByteArray("[Desktop Entry]\nType=Application\nName=T\n"
                                           "Exec=/somewhere/else --flag\n")
                             << true;
    QTest::newRow("already hidden") << QByteArray("[Desktop Entry]\nType=Application\nName=T\n"
                                                  "Exec=/somewhere/else\nHidden=true\n")
                                    << false;
}

void TestAutoStarter::switchOff()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, removed);
    writeFile(entry, content);
    AutoStarter a;
    a.setAutostart(false);
    QCOMPARE(!QFile::exists(entry), removed);
    QVERIFY(!a.autostartSet());

    init();
    a.setAutostart(false);
    QVERIFY(!QFile::exists(entry));
}

void TestAutoStarter::switchOnTwice()
{
    AutoStarter a;
    a.setAutostart(true);
    QVERIFY(a.autostartSet());
    const QByteArray first = contents(entry);
    a.setAutostart(true);
    QVERIFY(a.autostartSet());
    QCOMPARE(contents(entry), first);
    QCOMPARE(QDir(QFileInfo(entry).absolutePath()).entryList(QDir::Files),
             QStringList{"BrennicTovel3.desktop"});
    // The entry execQuoting reads and validates.
    QCOMPARE(first, XdgAutostart::desktopEntry(program));

    // A hidden entry is switched on again by writing a fresh one.
    writeFile(entry, first + "Hidden=true\n");
    QVERIFY(!a.autostartSet());
    a.setAutostart(true);
    QVERIFY(a.autostartSet());
}

void TestAutoStarter::execQuoting_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << "/opt/tovel3/tovel3";
    QTest::newRow("spaces") << "/home/u/My Programs/tovel 3/tovel3";
    QTest::newRow("double quotes") << "/home/u/\"quoted\" dir/tovel3";
    QTest::newRow("shell characters") << "/home/u/$HOME/`id`/a'b;c&d|e/tovel3";
    QTest::newRow("backslashes") << "/home/u/back\\slash\\\\two/tovel3";
    QTest::newRow("percent") << "/home/u/100% sure/%f %u/tovel3";
    QTest::newRow("non-ASCII") << QString::fromUtf8("/home/u/Программы/tovel3");
    QTest::newRow("leading space in a name") << "/home/u/ lead/tovel3";
}

void TestAutoStarter::execQuoting()
{
    QFETCH(QString, path);
    const QByteArray content = XdgAutostart::desktopEntry(path);
    const QString exec = rawKey(content, "Exec");
    QVERIFY(exec.startsWith('"'));
    QCOMPARE(splitExec(unescapeString(exec)), QStringList{path});

    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed");
    QTemporaryDir dir;
    const QString file = dir.path() + "/BrennicTovel3.desktop";
    writeFile(file, content);
    QProcess p;
    p.start(validator, {file});
    QVERIFY(p.waitForFinished(30000));
    const QByteArray out = p.readAllStandardOutput() + p.readAllStandardError();
    QVERIFY2(p.exitCode() == 0 && !out.contains("error"), out.constData());
}

void TestAutoStarter::systemWideEntry()
{
    const QString system = systemDirs.path() + "/autostart/BrennicTovel3.desktop";
    writeFile(system,
              "[Desktop Entry]\nType=Application\nName=T\nExec=" + quotedPath(program) + "\n");
    AutoStarter a;
    QVERIFY(a.autostartSet());

    // Switching off must hide the system's entry, not only drop the user's.
    a.setAutostart(false);
    QVERIFY(QFile::exists(entry));
    QVERIFY(!a.autostartSet());
    a.checkAutostart();
    QVERIFY(!a.autostartSet());
    a.setAutostart(true);
    QVERIFY(a.autostartSet());

    // A stale system entry is repaired by an entry of the user's own.
    init();
    writeFile(system, "[Desktop Entry]\nType=Application\nName=T\nExec=/old/tovel3\n");
    QVERIFY(!a.autostartSet());
    a.checkAutostart();
    QVERIFY(QFile::exists(entry));
    QVERIFY(a.autostartSet());
}

TOVEL3_TEST_MAIN(TestAutoStarter)
#include "tst_autostarter.moc"
