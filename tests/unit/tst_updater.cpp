#include "support/feedserver.h"
#include "support/peimage.h"
#include "support/testenvironment.h"
#include "support/testfiles.h"
#include "update/appcastparser.h"
#include "update/appcastupdater.h"
#include "update/buildversion.h"
#include "update/signatureverifier.h"
#include "update/updater.h"
#include "update/versioncomparator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>
#include <openssl/evp.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
struct KeyPair {
    QByteArray publicKey;
    std::shared_ptr<EVP_PKEY> key;

    static KeyPair generate()
    {
        KeyPair k;
        EVP_PKEY *raw = nullptr;
        EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
        if (ctx && EVP_PKEY_keygen_init(ctx) == 1)
            EVP_PKEY_keygen(ctx, &raw);
        EVP_PKEY_CTX_free(ctx);
        k.key.reset(raw, EVP_PKEY_free);
        unsigned char pub[32];
        size_t len = sizeof pub;
        if (raw && EVP_PKEY_get_raw_public_key(raw, pub, &len) == 1)
            k.publicKey = QByteArray(reinterpret_cast<char *>(pub), int(len));
        return k;
    }

    QByteArray sign(const QByteArray &message) const
    {
        unsigned char sig[64];
        size_t len = sizeof sig;
        EVP_MD_CTX *ctx = EVP_MD_CTX_new();
        const bool ok = EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key.get()) == 1 &&
                        EVP_DigestSign(ctx, sig, &len,
                                       reinterpret_cast<const unsigned char *>(message.constData()),
                                       size_t(message.size())) == 1;
        EVP_MD_CTX_free(ctx);
        return ok ? QByteArray(reinterpret_cast<char *>(sig), int(len)).toBase64() : QByteArray();
    }
};

using TestFiles::contents;
} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void versionOrder_data();
    void versionOrder();
    void signatureKnownAnswer();
    void parseRealistic();
    void releaseNotesAsPlainText_data();
    void releaseNotesAsPlainText();

    void announces_data();
    void announces();
    void releaseNotesLink();
    void brokenFeeds_data();
    void brokenFeeds();
    void refusedFeedAddresses_data();
    void refusedFeedAddresses();
    void checkDoesNotBlock();
    void checkIfDue_data();
    void checkIfDue();
    void automaticCheckAfterStart();

    void feedAddress();

    void buildSaysItsVersion();
    void canReplace_data();
    void canReplace();
    void doUpdate_data();
    void doUpdate();
    void doUpdateWithoutAnnouncement();
    void windowsInstaller_data();
    void windowsInstaller();

private:
    QByteArray feed(const QString &name, const QByteArray &length = QByteArray(),
                    const QByteArray &signature = QByteArray()) const;
    void serveFeed(const QByteArray &path, const QByteArray &body);
    // One look at the feed, to its end; found spies on newVersion.
    bool runCheck(AppcastUpdater &u, QSignalSpy &found);
    // Finds release 3.4.1 in the feed and asks for it; *said is what the
    // update said last.
    void update(AppcastUpdater &u, bool installs, QString *said);
    // What the stand-in xdg-open was asked to open, in order.
    QList<QUrl> openedUrls() const;
    // The stand-in finds no browser from now on.
    void browserMissing() const;

    FeedServer server;
    KeyPair keys;
    QTemporaryDir opener; // holds the stand-in xdg-open, first on PATH
    QByteArray program;   // the "new version": an ELF file of version 3.4.1
};

namespace
{
QByteArray versionMark(const QByteArray &version)
{
    return "\x01tovel3-build-version:" + version + "\x01";
}
} // namespace

void TestUpdater::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("TOVEL3_SOURCE_DIR"), "TOVEL3_SOURCE_DIR is not set");
    QVERIFY(server.start());
    keys = KeyPair::generate();
    QCOMPARE(keys.publicKey.size(), 32);
    program = contents("/bin/false") + versionMark("3.4.1");
    QVERIFY(program.startsWith("\x7f"
                               "ELF"));
    // Records each address and opens it, or finds no browser once told so.
    QFile script(opener.filePath("xdg-open"));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nd=${0%/*}\necho \"$1\" >> \"$d/opened\"\n"
                 "[ -e \"$d/no-browser\" ] && exit 3\nexit 0\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", QFile::encodeName(opener.path()) + ":" + qgetenv("PATH"));
}

QList<QUrl> TestUpdater::openedUrls() const
{
    QList<QUrl> urls;
    for (const QByteArray &line : contents(opener.filePath("opened")).split('\n')) {
        if (!line.isEmpty())
            urls << QUrl(QString::fromUtf8(line));
    }
    return urls;
}

void TestUpdater::browserMissing() const
{
    QFile flag(opener.filePath("no-browser"));
    flag.open(QIODevice::WriteOnly);
}

void TestUpdater::init()
{
    QFile::remove(opener.filePath("opened"));
    QFile::remove(opener.filePath("no-browser"));
    server.hits.clear();
    server.answers.clear();
    // A recent check keeps the automatic one from interfering.
    QSettings().setValue("Update/LastCheck", QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    QSettings().remove("Update/URL");
}

QByteArray TestUpdater::feed(const QString &name, const QByteArray &length,
                             const QByteArray &signature) const
{
    QByteArray text =
        contents(qEnvironmentVariable("TOVEL3_SOURCE_DIR") + "/tests/data/appcast/" + name);
    text.replace("@BASE@", server.base().toUtf8());
    text.replace("@LENGTH@", length.isEmpty() ? QByteArray::number(program.size()) : length);
    text.replace("@SIGNATURE@", signature.isEmpty() ? keys.sign(program) : signature);
    return text;
}

void TestUpdater::serveFeed(const QByteArray &path, const QByteArray &body)
{
    FeedServer::Answer a;
    a.body = body;
    server.answers.insert(path, a);
}

bool TestUpdater::runCheck(AppcastUpdater &u, QSignalSpy &found)
{
    QSignalSpy finished(&u, &AppcastUpdater::checkFinished);
    u.checkUpdate();
    if (!finished.wait(20000))
        return false;
    // Nothing may follow the end of the check, which says whether it found one.
    QTest::qWait(100);
    return finished.count() == 1 && finished[0][0].toBool() == !found.isEmpty() && !u.isChecking();
}

void TestUpdater::update(AppcastUpdater &u, bool installs, QString *said)
{
    QSignalSpy found(&u, &AppcastUpdater::newVersion);
    QVERIFY(runCheck(u, found));
    QCOMPARE(found.count(), 1);
    QCOMPARE(found[0][0].toString(), QString("3.4.1"));
    QSignalSpy status(&u, &AppcastUpdater::updateStatus);
    QSignalSpy finished(&u, &AppcastUpdater::updateFinished);
    if (!installs)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Update not installed:"));
    u.doUpdate();
    QVERIFY(finished.count() == 1 || finished.wait(20000));
    // Then what became of opening the download page.
    if (!installs)
        QTRY_VERIFY(!status.last()[0].toString().contains("is being opened"));
    QTest::qWait(100);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished[0][0].toBool(), installs);
    QVERIFY(!status.isEmpty());
    *said = status.last()[0].toString();
}

void TestUpdater::versionOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    const auto row = [](const char *name, const char *a, const char *b, int order) {
        QTest::newRow(name) << QString(a) << QString(b) << order;
    };
    row("equal", "3.3.4", "3.3.4", 0);
    row("patch", "3.3.5", "3.3.4", 1);
    row("two digits", "3.3.10", "3.3.9", 1);
    row("minor beats patch", "3.4", "3.3.99", 1);
    row("final beats beta", "1.0", "1.0b1", 1);
    row("beta order", "1.0b2", "1.0b1", 1);
    row("alpha before beta", "1.0a9", "1.0b1", -1);
    row("beta before rc", "1.0b3", "1.0rc1", -1);
    row("rc of next", "3.3.5rc1", "3.3.4", 1);
    row("extra part", "1.0.1", "1.0", 1);
    row("trailing zero", "1.0.0", "1.0", 0);
    row("pre-release after zeros", "1.0.0rc1", "1.0", -1);
    row("number beats letters", "1.0.1", "1.0.b", 1);
    row("leading zeros", "1.010", "1.9", 1);
    row("huge numbers", "1.123456789012345678901", "1.123456789012345678900", 1);
    row("build numbers", "2024", "999", 1);
    row("empty", "", "0.1", -1);
}

void TestUpdater::versionOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QCOMPARE(VersionComparator::compare(a, b), order);
    QCOMPARE(VersionComparator::compare(b, a), -order);
}

void TestUpdater::signatureKnownAnswer()
{
    // The first test vector of RFC 8032: the empty message.
    const QByteArray key =
        QByteArray::fromHex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    const QByteArray sig =
        QByteArray::fromHex("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
                            "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b");
    QVERIFY(SignatureVerifier::verify(key, QByteArray(), sig.toBase64()));
    QVERIFY(!SignatureVerifier::verify(key, QByteArray("x"), sig.toBase64()));
    QVERIFY(!SignatureVerifier::verify(key.left(31), QByteArray(), sig.toBase64()));
    QVERIFY(!SignatureVerifier::verify(key, QByteArray(), sig.left(63).toBase64()));
    QVERIFY(!SignatureVerifier::verify(key, QByteArray(), "not base64 at all!"));
    QVERIFY(SignatureVerifier::verify(keys.publicKey, program, keys.sign(program)));
    QVERIFY(!SignatureVerifier::verify(keys.publicKey, program, KeyPair::generate().sign(program)));
}

void TestUpdater::parseRealistic()
{
    AppcastParser parser;
    QVERIFY2(parser.parse(feed("realistic.xml")), qPrintable(parser.errorString()));
    const QList<AppcastItem> &items = parser.items();
    QCOMPARE(items.size(), 5);
    const AppcastItem &item = items.at(2);
    QCOMPARE(item.version, QString("3.3.10"));
    QCOMPARE(item.shortVersion, QString("3.3.10 (October build)"));
    QVERIFY(item.description.trimmed().startsWith("<h2>What's new</h2>"));
    QVERIFY(item.descriptionIsHtml);
    QCOMPARE(item.enclosures.size(), 2);
    QCOMPARE(item.enclosures[0].os, QString("windows"));
    QCOMPARE(item.enclosures[0].length, qint64(3932160));
    QCOMPARE(item.enclosures[1].os, QString("linux"));
    QCOMPARE(item.enclosures[1].length, qint64(program.size()));
    QCOMPARE(item.enclosures[1].edSignature.toLatin1(), keys.sign(program));
    QCOMPARE(item.enclosures[1].url, QUrl(server.url("/download/tovel3-3.3.10-x86_64.AppImage")));
    QCOMPARE(items.at(0).channel, QString("beta"));
    QCOMPARE(items.at(1).os, QString("windows"));

    QVERIFY(parser.parse(feed("other-os.xml")));
    QCOMPARE(parser.items().size(), 4);
    QCOMPARE(parser.items().at(2).version, QString("4.2"));
    QCOMPARE(parser.items().at(2).os, QString("windows"));
    QVERIFY(!parser.newestFor("linux", "3.3.4"));
    const auto windows = parser.newestFor("windows", "3.3.4");
    QVERIFY(windows);
    QCOMPARE(windows->version, QString("4.2"));
}

void TestUpdater::releaseNotesAsPlainText_data()
{
    QTest::addColumn<QString>("notes");
    QTest::addColumn<bool>("html");
    QTest::addColumn<QString>("shown");
    QTest::newRow("list and entities")
        << "<h2>New</h2><ul><li>A &amp; B</li><li>caf&#233; &lt;b&gt;&nbsp;&bogus;</li></ul>"
        << true << QString::fromUtf8("New\n\n\u2022 A & B\n\u2022 café <b> &bogus;");
    QTest::newRow("no scripts, styles, comments, images or links")
        << "<style>p{}</style><script>x<y</script><!-- hidden --><p>Shown <img "
           "src=\"http://127.0.0.1:9/x.png\"><a href=\"http://127.0.0.1:9/\">here</a></p>"
        << true << "Shown here";
    QString tables;
    for (int i = 0; i < 3000; ++i)
        tables += "<table><tr><td>";
    tables += "deep";
    for (int i = 0; i < 3000; ++i)
        tables += "</td></tr></table>";
    QTest::newRow("3000 nested tables") << tables << true << "deep";
    const QString words = QString("word ").repeated(10000);
    QTest::newRow("long notes are cut")
        << "<p>" + words << true << words.left(AppcastParser::maxNotesLength - 1) + QChar(0x2026);
    QTest::newRow("direction overrides dropped")
        << QString::fromUtf8("<p>invoice\u202Egpj.exe</p>") << true << "invoicegpj.exe";
    QTest::newRow("unfinished tag") << "Text <b" << true << "Text";
    QTest::newRow("plain text keeps its lines")
        << "line one  \r\n\n\n\n  line <two>" << false << "line one\n\n  line <two>";
}

void TestUpdater::releaseNotesAsPlainText()
{
    QFETCH(QString, notes);
    QFETCH(bool, html);
    QFETCH(QString, shown);
    // Processor time, which a loaded machine does not stretch: one pass.
    const std::clock_t start = std::clock();
    QCOMPARE(AppcastParser::notesToPlainText(notes, html), shown);
    const double ms = 1000.0 * double(std::clock() - start) / CLOCKS_PER_SEC;
    QVERIFY2(ms < 50, qPrintable(QString::number(ms)));
}

void TestUpdater::announces_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("version"); // empty: nothing to announce
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("download");
    QTest::newRow("real-world feed") << "realistic.xml"
                                     << "3.3.10 (October build)"
                                     << "What's new\n\n"
                                        "\u2022 The heartbeat waits for the process check to "
                                        "finish.\n"
                                        "\u2022 Journal rotation keeps every line."
                                     << "/download/tovel3-3.3.10-x86_64.AppImage";
    QTest::newRow("older or equal only") << "older.xml"
                                         << ""
                                         << ""
                                         << "";
    QTest::newRow("other or no system named") << "other-os.xml"
                                              << ""
                                              << ""
                                              << "";
    QTest::newRow("namespace by address") << "prefix.xml"
                                          << "3.4"
                                          << "Plain notes <not markup>\nsecond line"
                                          << "/feeds/download/tovel3-3.4";
}

void TestUpdater::announces()
{
    QFETCH(QString, file);
    QFETCH(QString, version);
    QFETCH(QString, notes);
    QFETCH(QString, download);
    serveFeed("/feeds/" + file.toUtf8(), feed(file));
    AppcastUpdater u(server.url("/feeds/" + file));
    QSignalSpy found(&u, &AppcastUpdater::newVersion);
    QSignalSpy upToDate(&u, &AppcastUpdater::upToDate);
    QSignalSpy failed(&u, &AppcastUpdater::checkFailed);
    QVERIFY(runCheck(u, found));
    QCOMPARE(server.hits.value("/feeds/" + file.toUtf8()), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(upToDate.count(), version.isEmpty() ? 1 : 0);
    if (version.isEmpty()) {
        QCOMPARE(found.count(), 0);
        QVERIFY(!u.pendingRelease());
        return;
    }
    QCOMPARE(found.count(), 1);
    QCOMPARE(found[0][0].toString(), version);
    QCOMPARE(found[0][1].toString(), notes);
    QVERIFY(u.pendingRelease() && u.pendingRelease()->enclosure);
    QCOMPARE(u.pendingRelease()->enclosure->url, QUrl(server.url(download)));
    // Nothing is downloaded before the user asks for it.
    QCOMPARE(server.hits.value(download.toUtf8()), 0);
}

void TestUpdater::releaseNotesLink()
{
    serveFeed("/notes.xml", feed("notes-link.xml"));
    FeedServer::Answer notes;
    notes.body = "<h3>3.6</h3><p>Faster start.</p>";
    notes.type = "text/html; charset=utf-8";
    server.answers.insert("/notes/3.6.html", notes);
    AppcastUpdater u(server.url("/notes.xml"));
    QSignalSpy found(&u, &AppcastUpdater::newVersion);
    QVERIFY(runCheck(u, found));
    QCOMPARE(found.count(), 1);
    QCOMPARE(found[0][0].toString(), QString("3.6"));
    QCOMPARE(found[0][1].toString(), QString("3.6\n\nFaster start."));
    QCOMPARE(server.hits.value("/notes/3.6.ru.html"), 0);

    // Notes that cannot be fetched are said to be missing.
    server.answers.remove("/notes/3.6.html");
    found.clear();
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Release notes not loaded from"));
    QVERIFY(runCheck(u, found));
    QCOMPARE(found.count(), 1);
    QCOMPARE(found[0][1].toString(), QString("The release notes could not be loaded."));
}

void TestUpdater::brokenFeeds_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("not an appcast") << "not-appcast";
    QTest::newRow("cut short") << "broken";
    QTest::newRow("empty") << "empty";
    QTest::newRow("huge with length") << "huge";
    QTest::newRow("huge without length") << "huge-unannounced";
    QTest::newRow("not found") << "404";
    QTest::newRow("nothing listening") << "closed-port";
}

void TestUpdater::brokenFeeds()
{
    QFETCH(QString, kind);
    QString url = server.url("/feed.xml");
    FeedServer::Answer a;
    if (kind == "not-appcast") {
        a.body = feed("not-appcast.xml");
    } else if (kind == "broken") {
        a.body = feed("broken.xml");
    } else if (kind.startsWith("huge")) {
        // A newer release hides behind the padding, so only the size cap
        // keeps it from being announced.
        QByteArray body = feed("realistic.xml");
        const QByteArray pad = "<!-- " + QByteArray(5 * 1024 * 1024, 'x') + " -->\n";
        body.insert(body.indexOf("<rss"), pad);
        a.body = body;
        a.withLength = kind == "huge";
    } else if (kind == "404") {
        url = server.url("/missing.xml");
    } else if (kind == "closed-port") {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        url = QString("http://127.0.0.1:%1/feed.xml").arg(probe.serverPort());
        probe.close();
    }
    if (url.endsWith("/feed.xml") && kind != "closed-port")
        server.answers.insert("/feed.xml", a);

    AppcastUpdater u(url);
    QSignalSpy found(&u, &AppcastUpdater::newVersion);
    QSignalSpy upToDate(&u, &AppcastUpdater::upToDate);
    QSignalSpy failed(&u, &AppcastUpdater::checkFailed);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Update check failed: "));
    QVERIFY(runCheck(u, found));
    QCOMPARE(found.count(), 0);
    // A feed that was not read is no feed without updates.
    QCOMPARE(upToDate.count(), 0);
    QCOMPARE(failed.count(), 1);
    QVERIFY(!failed[0][0].toString().isEmpty());
}

void TestUpdater::refusedFeedAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("file naming a FIFO") << "file://@FIFO@";
    QTest::newRow("plain http elsewhere")
        << "http://update.brennic.example/software/tovel3/updates/linux/appcast.xml";
    QTest::newRow("not a URL") << "no scheme at all";
}

void TestUpdater::refusedFeedAddresses()
{
    QFETCH(QString, address);
    QTemporaryDir dir;
    const QString fifo = dir.filePath("appcast.xml");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    address.replace("@FIFO@", fifo);
    // Any request for another host would reach the loopback server.
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", QUrl(server.base()).port()));
    auto noProxy = qScopeGuard([] { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); });

    AppcastUpdater u(address);
    QSignalSpy finished(&u, &AppcastUpdater::checkFinished);
    QSignalSpy failed(&u, &AppcastUpdater::checkFailed);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Update check refused: "));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Update check failed: "));
    u.checkUpdate();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished[0][0].toBool(), false);
    QVERIFY(!u.isChecking());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed[0][0].toString(),
             QString("The update address %1 is refused: only https addresses are accepted.")
                 .arg(address));
    QTest::qWait(200);
    QVERIFY2(server.hits.isEmpty(), server.hits.keys().join(' ').constData());
}

void TestUpdater::checkDoesNotBlock()
{
    FeedServer::Answer slow;
    slow.body = feed("realistic.xml");
    slow.delayMs = 800;
    server.answers.insert("/slow.xml", slow);
    AppcastUpdater u(server.url("/slow.xml"));
    QSignalSpy found(&u, &AppcastUpdater::newVersion);
    QSignalSpy finished(&u, &AppcastUpdater::checkFinished);
    QElapsedTimer clock;
    clock.start();
    u.checkUpdate();
    u.checkUpdate(); // a second request while one runs starts nothing new
    QVERIFY(clock.elapsed() < 500);
    QVERIFY(u.isChecking());
    QVERIFY(finished.wait(20000));
    QVERIFY(clock.elapsed() >= 750);
    QTest::qWait(200);
    QCOMPARE(found.count(), 1);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(server.hits.value("/slow.xml"), 1);
}

void TestUpdater::checkIfDue_data()
{
    QTest::addColumn<int>("lastCheckAgo"); // seconds; negative: never checked
    QTest::addColumn<bool>("checks");
    QTest::newRow("never") << -1 << false;
    QTest::newRow("23 hours ago") << 23 * 3600 << false;
    QTest::newRow("a day ago") << 24 * 3600 + 60 << true;
}

void TestUpdater::checkIfDue()
{
    QFETCH(int, lastCheckAgo);
    QFETCH(bool, checks);
    serveFeed("/daily.xml", feed("realistic.xml"));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (lastCheckAgo < 0)
        QSettings().remove("Update/LastCheck");
    else
        QSettings().setValue("Update/LastCheck", now.addSecs(-lastCheckAgo).toString(Qt::ISODate));

    AppcastUpdater u(server.url("/daily.xml"));
    QSignalSpy found(&u, &AppcastUpdater::newVersion);
    u.checkIfDue();
    QCOMPARE(u.isChecking(), checks);
    if (checks)
        QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, 20000);
    else
        QTest::qWait(300);
    QCOMPARE(server.hits.value("/daily.xml"), checks ? 1 : 0);
    QCOMPARE(found.count(), checks ? 1 : 0);
    // Every look, and the first start, sets the clock of the next one.
    const QDateTime last =
        QDateTime::fromString(QSettings().value("Update/LastCheck").toString(), Qt::ISODate);
    QVERIFY(last.isValid());
    if (checks || lastCheckAgo < 0)
        QVERIFY(qAbs(last.secsTo(now)) < 60);
    else
        QVERIFY(qAbs(last.secsTo(now.addSecs(-lastCheckAgo))) < 2);
}

void TestUpdater::automaticCheckAfterStart()
{
    serveFeed("/auto.xml", feed("realistic.xml"));
    QSettings().setValue("Update/LastCheck",
                         QDateTime::currentDateTimeUtc().addDays(-2).toString(Qt::ISODate));
    const int delay = 500;
    QElapsedTimer sinceStart;
    sinceStart.start();
    AppcastUpdater u(server.url("/auto.xml"), delay);
    QSignalSpy found(&u, &AppcastUpdater::newVersion);
    // The start itself is not held up; the look follows after the delay.
    QVERIFY(!u.isChecking());
    QCOMPARE(server.hits.value("/auto.xml"), 0);
    QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, 30000);
    QVERIFY2(sinceStart.elapsed() >= delay, qPrintable(QString::number(sinceStart.elapsed())));
    QCOMPARE(server.hits.value("/auto.xml"), 1);
}

void TestUpdater::feedAddress()
{
    const auto feedOf = [] {
        Updater updater;
        auto *backend = dynamic_cast<AppcastUpdater *>(updater.updaterBackend());
        return backend ? backend->feedUrl() : QString("no backend");
    };
    QCOMPARE(feedOf(), Updater::defaultFeedUrl());
    QVERIFY(Updater::defaultFeedUrl().startsWith("https://"));
    QVERIFY(Updater::defaultFeedUrl().endsWith("/software/tovel3/updates/linux/appcast.xml"));
    QSettings().setValue("Update/URL", server.url("/custom.xml"));
    QCOMPARE(feedOf(), server.url("/custom.xml"));
    // The program never writes the address itself.
    QCOMPARE(QSettings().value("Update/URL").toString(), server.url("/custom.xml"));
    QSettings().setValue("Update/URL", "not a url");
    QCOMPARE(feedOf(), QString("not a url"));
}

void TestUpdater::buildSaysItsVersion()
{
    // The program this build made carries its version; a program of no
    // build of this project carries none.
    const QString program = qEnvironmentVariable("TOVEL3_BIN");
    QCOMPARE(BuildVersion::of(contents(program)).value_or("none"), QString(TOVEL3_VERSION));
    QVERIFY(!BuildVersion::of(contents("/bin/true")));
}

void TestUpdater::canReplace_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("replaceable");
    QTest::newRow("system binary") << "/bin/sh" << false;
    QTest::newRow("system binary under usr") << "/usr/bin/true" << false;
    QTest::newRow("missing") << "/nonexistent/tovel3" << false;
    QTest::newRow("own copy") << "own" << true;
    QTest::newRow("directory") << "dir" << false;
}

void TestUpdater::canReplace()
{
    QFETCH(QString, path);
    QFETCH(bool, replaceable);
    QTemporaryDir dir;
    if (path == "own") {
        path = dir.path() + "/tovel3";
        QVERIFY(QFile::copy("/bin/true", path));
    } else if (path == "dir") {
        path = dir.path();
    }
    QString reason;
    QCOMPARE(AppcastUpdater::canReplace(path, &reason), replaceable);
    QCOMPARE(reason.isEmpty(), replaceable);
}

void TestUpdater::doUpdate_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<bool>("downloads");
    QTest::addColumn<bool>("installs");
    QTest::addColumn<bool>("unverified");
    QTest::newRow("signed") << "signed" << true << true << false;
    // The feed names 3.4.1; the signed build says what it is.
    QTest::newRow("older build") << "older" << true << false << false;
    QTest::newRow("same version as running") << "same" << true << false << false;
    QTest::newRow("build without its version") << "unmarked" << true << false << true;
    QTest::newRow("no browser for the page") << "no-browser" << false << false << true;
    QTest::newRow("no signature") << "unsigned" << false << false << true;
    QTest::newRow("signature of other bytes") << "tampered" << true << false << true;
    QTest::newRow("wrong length") << "length" << true << false << true;
    QTest::newRow("no key in the build") << "no-key" << false << false << true;
    QTest::newRow("not a program") << "text" << true << false << true;
    QTest::newRow("download missing") << "404" << true << false << false;
    QTest::newRow("program of another user") << "foreign" << false << false << false;
}

void TestUpdater::doUpdate()
{
    QFETCH(QString, variant);
    QFETCH(bool, downloads);
    QFETCH(bool, installs);
    QFETCH(bool, unverified);

    QTemporaryDir dir;
    const QString installed = dir.path() + "/tovel3";
    QVERIFY(QFile::copy("/bin/true", installed));
    const QByteArray before = contents(installed);
    QVERIFY(before != program);

    QByteArray served = program;
    QByteArray signature = keys.sign(program);
    QByteArray length = QByteArray::number(program.size());
    if (variant == "tampered")
        served[served.size() / 2] = char(served[served.size() / 2] ^ 1);
    else if (variant == "length")
        length = QByteArray::number(program.size() + 1);
    else if (variant == "older" || variant == "same" || variant == "unmarked") {
        served = contents("/bin/false");
        if (variant != "unmarked")
            served += versionMark(variant == "older" ? "3.3.0" : TOVEL3_VERSION);
        signature = keys.sign(served);
        length = QByteArray::number(served.size());
    } else if (variant == "text") {
        served = "#!/bin/sh\necho not a program\n";
        signature = keys.sign(served);
        length = QByteArray::number(served.size());
    }
    if (variant == "foreign") {
#ifdef Q_OS_UNIX
        if (geteuid() == 0)
            QVERIFY(::chown(QFile::encodeName(installed).constData(), 65534, 65534) == 0);
        else
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
#endif
    }

    QByteArray body = feed("signed.xml", length);
    body.replace("@SIGNATURE_ATTRIBUTE@", variant == "unsigned"
                                              ? QByteArray()
                                              : "sparkle:edSignature=\"" + signature + "\"");
    serveFeed("/signed.xml", body);
    if (variant != "404") {
        FeedServer::Answer download;
        download.body = served;
        download.type = "application/octet-stream";
        server.answers.insert("/download/tovel3-3.4.1", download);
    }

    if (variant == "no-browser")
        browserMissing();
    AppcastUpdater u(server.url("/signed.xml"));
    u.setPublicKey(variant == "no-key" || variant == "no-browser" ? QByteArray() : keys.publicKey);
    u.setInstallTarget(installed);
    QStringList restarts;
    u.setRestartHandler([&restarts](const QString &p) { restarts << p; });
    QString lastText;
    update(u, installs, &lastText);
    if (variant == "foreign")
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(server.hits.value("/download/tovel3-3.4.1"), downloads ? 1 : 0);

    if (installs) {
        QCOMPARE(contents(installed), program);
        QVERIFY(QFileInfo(installed).permissions() & QFile::ExeOwner);
        QCOMPARE(restarts, QStringList{QFileInfo(installed).canonicalFilePath()});
        QVERIFY(openedUrls().isEmpty());
        QVERIFY2(lastText.contains("restarts"), qPrintable(lastText));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"tovel3"});
    } else {
        QCOMPARE(contents(installed), before);
        QVERIFY(restarts.isEmpty());
        // Never the file the feed named: only the maker's page, and the
        // message says whether a browser shows it.
        QCOMPARE(openedUrls(), QList<QUrl>{Updater::downloadPageUrl()});
        QVERIFY2(lastText.contains(Updater::downloadPageUrl().toString()), qPrintable(lastText));
        QVERIFY2(!lastText.contains("/download/tovel3-3.4.1"), qPrintable(lastText));
        QCOMPARE(lastText.startsWith("The update failed verification"), unverified);
        QCOMPARE(lastText.contains("has been opened in your web browser"), variant != "no-browser");
        QCOMPARE(lastText.contains("No web browser could be opened"), variant == "no-browser");
        if (variant == "older")
            QVERIFY2(lastText.contains("version 3.3.0, not newer"), qPrintable(lastText));
    }
}

void TestUpdater::doUpdateWithoutAnnouncement()
{
    AppcastUpdater u(server.url("/nothing.xml"));
    u.setPublicKey(keys.publicKey);
    QStringList restarts;
    u.setRestartHandler([&restarts](const QString &p) { restarts << p; });
    QSignalSpy status(&u, &AppcastUpdater::updateStatus);
    u.doUpdate();
    QCOMPARE(status.count(), 1);
    QVERIFY(status[0][0].toString().contains("No updates available"));
    QVERIFY(restarts.isEmpty());
    QVERIFY(openedUrls().isEmpty());
    QCOMPARE(server.hits.size(), 0);
}

TOVEL3_TEST_MAIN(TestUpdater)
#include "tst_updater.moc"

void TestUpdater::windowsInstaller_data()
{
    QTest::addColumn<QString>("version"); // in the installer's version resource
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QString>("expected");
    QTest::newRow("newer") << "3.4.1" << true << "installer of version 3.4.1 starts";
    // Its version names the file it is saved as, never another folder.
    QTest::newRow("newer, a path as version") << "3.9/../../x" << true << "starts now";
    QTest::newRow("older") << "3.3.0" << false << "version 3.3.0, not newer";
    QTest::newRow("same") << TOVEL3_VERSION << false << "not newer";
    QTest::newRow("no version resource") << "" << false << "does not say which version";
    QTest::newRow("a Linux program") << "elf" << false << "not a program for this system";
}

void TestUpdater::windowsInstaller()
{
    QFETCH(QString, version);
    QFETCH(bool, starts);
    QFETCH(QString, expected);
    PeImage::Image image;
    image.productVersion = version;
    if (version.isEmpty())
        image.resourceType = 3;
    const QByteArray installer = version == "elf" ? program : PeImage::build(image);
    serveFeed("/windows.xml", feed("signed-windows.xml", QByteArray::number(installer.size()),
                                   keys.sign(installer)));
    FeedServer::Answer download;
    download.body = installer;
    server.answers.insert("/download/tovel3-3.4.1-win64.exe", download);

    AppcastUpdater u(server.url("/windows.xml"));
    u.setSystem("windows");
    u.setPublicKey(keys.publicKey);
    QStringList started;
    u.setRestartHandler([&started](const QString &p) { started << p; });
    QString said;
    update(u, starts, &said);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(server.hits.value("/download/tovel3-3.4.1"), 0);
    QVERIFY2(said.contains(expected), qPrintable(said));
    QCOMPARE(started.size(), starts ? 1 : 0);
    if (starts) {
        QString name = version;
        QCOMPARE(started[0], QStandardPaths::writableLocation(QStandardPaths::TempLocation) +
                                 "/tovel3-" + name.replace('/', '_') + "-setup.exe");
        QCOMPARE(contents(started[0]), installer);
        QFile::remove(started[0]);
    } else {
        QTRY_COMPARE(openedUrls(), QList<QUrl>{Updater::downloadPageUrl()});
    }
}
