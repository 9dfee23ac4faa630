// The application page: the real Page3 QML from the resources with the real
// settings store, autostart entry, process watcher, updater and journal, in a
// window that stands where the main window would be.
#include "storage/journal.h"
#include "support/feedserver.h"
#include "support/testenvironment.h"
#include "support/testfiles.h"
#include "support/windowharness.h"
#include "update/updater.h"
#include "window/builddate.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScopeGuard>
#include <QSettings>
#include <QtTest>

#include <memory>

namespace
{
// The longest time the GUI thread went without serving its event loop.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(2);
        connect(&m_timer, &QTimer::timeout, this,
                [this] { m_longest = qMax(m_longest, m_clock.restart()); });
        m_clock.start();
        m_timer.start();
    }
    qint64 longestMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

const char *harness = R"(
import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Controls.Material 2.1
import Tovel3 1.0
ApplicationWindow {
    id: mainwindow
    width: 580
    height: 540
    visible: true
    Material.theme: Material.Light
    Material.primary: Material.Indigo
    Material.accent: Material.Indigo
    Material.background: "#fdfdfd"
    // The page gets the room it has under the main window's tab bar.
    header: TabBar { TabButton { text: "Application" } }
    SettingsTransfer { id: settings }
    AutoStarter { id: astarter }
    Page3 { id: page3; anchors.fill: parent }
}
)";
} // namespace

class TestPage3 : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Journal> journal;
    QmlPageWindow qml;

    QQuickWindow *window() const { return qml.window(); }
    QVariant eval(const QString &expression) const { return qml.eval(expression); }
    QQuickItem *item(const QString &expression) const { return qml.item(expression); }

    static QVariant stored(const QString &key) { return QSettings().value(key); }

    QString logFile() const { return journal->getLogFile(); }

    void load(const QString &language = "en", bool softgl = false,
              const QString &feed = "http://127.0.0.1:9/appcast.xml")
    {
        {
            QSettings s;
            s.setValue("UI/Language", language);
            s.setValue("softgl", softgl);
            // Nothing of a check may leave this machine.
            s.setValue("Update/URL", feed);
        }
        journal.reset(new Journal);
        journal->setup(TestEnvironment::home() + "/log", "tovel3.log");
        journal->setPaused(true);
        QVERIFY2(qml.create(harness, QUrl("qrc:/page3harness.qml"), journal.get()),
                 qPrintable(qml.errorString()));
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        // The logging dialog opens and closes without its fade.
        eval("page3.logSetupDialog.enter = null");
        eval("page3.logSetupDialog.exit = null");
    }

    void clickAt(QQuickItem *target, qreal fx = 0.5) { qml.click(target, fx); }

    // The link sits at the end of the text, after the arrow.
    void clickLink(const QString &text) { clickAt(item("page3." + text), 0.7); }

    void typeInto(QQuickItem *spin, const QString &text)
    {
        QQuickItem *field = spin->property("contentItem").value<QQuickItem *>();
        QVERIFY(field);
        field->forceActiveFocus();
        QMetaObject::invokeMethod(field, "selectAll");
        for (const QChar c : text)
            QTest::keyClick(window(), c.toLatin1());
    }

    void render(const QString &name) { qml.render(name, 200); }

    // The whole of the update status is in sight, none of it scrolled away.
    bool statusReadWithoutScrolling() const
    {
        return inSight("page3.updateText") &&
               eval("page3.updateStatusView.contentHeight <= page3.updateStatusView.height")
                   .toBool();
    }

    // A feed on loopback at /appcast.xml, made from a file of test data.
    static void serveFeed(FeedServer &server, const QString &file)
    {
        QByteArray feed = TestFiles::contents(qEnvironmentVariable("TOVEL3_SOURCE_DIR") +
                                              "/tests/data/appcast/" + file);
        feed.replace("@BASE@", server.base().toUtf8());
        feed.replace("@LENGTH@", "10");
        feed.replace("@SIGNATURE@", "AAAA");
        server.answers.insert("/appcast.xml", {200, feed, "application/rss+xml", true, 0});
    }

    // Whether the user can see all of the item: shown, inside the page and
    // inside every clipping item around it.
    bool inSight(const QString &expression) const
    {
        QQuickItem *target = item(expression);
        if (!target || !target->isVisible() || target->width() <= 0 || target->height() <= 0)
            return false;
        const QRectF rect = target->mapRectToScene(target->boundingRect());
        for (QQuickItem *p = target->parentItem(); p; p = p->parentItem()) {
            if (p->clip() && !p->mapRectToScene(p->boundingRect()).contains(rect))
                return false;
        }
        QQuickItem *page = item("page3");
        return page->mapRectToScene(page->boundingRect()).contains(rect);
    }

    // The link comes a moment after the page (sooner here).
    void waitForUpdateLink()
    {
        eval("page3.chkUpdTimer.interval = 50");
        QTRY_VERIFY(eval("page3.updateLink.text").toString().contains("href=\"upd://check\""));
        QVERIFY(eval("page3.updateLink.text")
                    .toString()
                    .contains(QCoreApplication::translate("Page3", "Check for updates")));
    }

private slots:
    void initTestCase() { QmlPageWindow::prepare(); }

    void init() { QSettings().clear(); }

    void cleanup()
    {
        qml.destroy();
        journal.reset();
        QFile::remove(TestEnvironment::home() + "/log/tovel3.log");
    }

    void switchWritesItsKey_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("storedWhenChecked");
        QTest::newRow("hide on startup") << "hideSwitch"
                                         << "visible" << false;
        QTest::newRow("software rendering") << "softwareSwitch"
                                            << "softgl" << true;
        QTest::newRow("compatibility") << "legacySwitch"
                                       << "legacy" << true;
        QTest::newRow("logging") << "logSwitch"
                                 << "logging/enable" << true;
    }

    void switchWritesItsKey()
    {
        QFETCH(QString, control);
        QFETCH(QString, key);
        QFETCH(bool, storedWhenChecked);
        load();
        QSettings().remove(key);
        QQuickItem *sw = item("page3." + control);
        clickAt(sw);
        QVERIFY(sw->property("checked").toBool());
        QCOMPARE(stored(key).userType(), int(QMetaType::Bool));
        QCOMPARE(stored(key).toBool(), storedWhenChecked);
        clickAt(sw);
        QVERIFY(!sw->property("checked").toBool());
        QCOMPARE(stored(key).toBool(), !storedWhenChecked);
    }

    void autostartSwitchDrivesTheEntry()
    {
        load();
        const QString entry = TestEnvironment::home() + "/.config/autostart/BrennicTovel3.desktop";
        QVERIFY(!QFile::exists(entry));
        clickAt(item("page3.autostartSwitch"));
        QVERIFY(QFile::exists(entry));
        QVERIFY(eval("astarter.autostartSet()").toBool());
        clickAt(item("page3.autostartSwitch"));
        QVERIFY(!eval("astarter.autostartSet()").toBool());
    }

    // The links that come with logging take no room from the switches...
    void loggingSwitchMovesNothing()
    {
        load();
        auto places = [this] {
            QList<QPointF> at;
            for (const char *name :
                 {"autostartSwitch", "hideSwitch", "softwareSwitch", "legacySwitch", "logSwitch"}) {
                QQuickItem *sw = item(QString("page3.") + name);
                at << sw->mapToScene(QPointF(0, 0));
            }
            return at;
        };
        auto drawn = [this] {
            QSignalSpy frame(window(), &QQuickWindow::frameSwapped);
            window()->update();
            return frame.wait(5000);
        };
        QVERIFY(drawn());
        const QList<QPointF> before = places();
        clickAt(item("page3.logSwitch"));
        QVERIFY(eval("page3.logSetupText.visible").toBool());
        QVERIFY(drawn());
        QCOMPARE(places(), before);
        // and go with it.
        clickAt(item("page3.logSwitch"));
        QVERIFY(!eval("page3.logSetupText.visible").toBool());
        QVERIFY(!eval("page3.logViewText.visible").toBool());
    }

    void renderingNoticeFollowsTheSwitch_data()
    {
        QTest::addColumn<bool>("softgl");
        QTest::newRow("running on OpenGL") << false;
        QTest::newRow("running in software") << true;
    }

    void renderingNoticeFollowsTheSwitch()
    {
        QFETCH(bool, softgl);
        load("en", softgl);
        // The main window puts the switch in the state of this run first.
        eval(QString("page3.softwareSwitch.checked = %1").arg(softgl ? "true" : "false"));
        QCOMPARE(eval("page3.langWarn.text").toString(), QString());
        clickAt(item("page3.softwareSwitch"));
        QCOMPARE(eval("page3.langWarn.text").toString(),
                 QString("Restart the app to change rendering method"));
        QCOMPARE(eval("page3.langWarn.color").value<QColor>(), QColor("red"));
        render(softgl ? "page3-softgl.png" : "page3-gl.png");
        clickAt(item("page3.softwareSwitch"));
        QCOMPARE(eval("page3.langWarn.text").toString(), QString());
        QCOMPARE(stored("softgl").toBool(), softgl);
    }

    void languageChoice_data()
    {
        QTest::addColumn<QString>("running");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("picked");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("notice");
        QTest::newRow("English, pick Russian") << "en" << 0 << 1 << "ru" << true;
        QTest::newRow("Russian, pick English") << "ru" << 1 << 0 << "en" << true;
        QTest::newRow("unknown code, pick Russian") << "de" << 0 << 1 << "ru" << false;
        QTest::newRow("locale name, pick Russian") << "ru_RU" << 0 << 1 << "ru" << false;
    }

    void languageChoice()
    {
        QFETCH(QString, running);
        QFETCH(int, shown);
        QFETCH(int, picked);
        QFETCH(QString, stored);
        QFETCH(bool, notice);
        load(running);
        QCOMPARE(eval("page3.langCombo.currentIndex").toInt(), shown);
        // Building the page writes nothing.
        QCOMPARE(QSettings().value("UI/Language").toString(), running);

        QQuickItem *combo = item("page3.langCombo");
        combo->forceActiveFocus();
        QTest::keyClick(window(), picked > shown ? Qt::Key_Down : Qt::Key_Up);
        QCOMPARE(eval("page3.langCombo.currentIndex").toInt(), picked);
        QCOMPARE(QSettings().value("UI/Language").toString(), stored);
        QCOMPARE(eval("page3.langWarn.text").toString(),
                 notice ? QString("Restart the app to change language") : QString());
        if (notice)
            QCOMPARE(eval("page3.langWarn.color").value<QColor>(), QColor("red"));

        // Back to the first choice: the notice goes again.
        QTest::keyClick(window(), picked > shown ? Qt::Key_Up : Qt::Key_Down);
        QCOMPARE(eval("page3.langCombo.currentIndex").toInt(), shown);
        QCOMPARE(QSettings().value("UI/Language").toString(), shown == 1 ? "ru" : "en");
        QCOMPARE(eval("page3.langWarn.text").toString(), QString());
    }

    void openBeforeTheFirstEntryShowsTheDialog()
    {
        load();
        eval("page3.logSwitch.checked = true");
        QVERIFY(!QFile::exists(logFile()));
        QVERIFY(!eval("page3.noLogDlg.visible").toBool());
        clickLink("logViewText");
        QTRY_VERIFY(eval("page3.noLogDlg.visible").toBool());
        QCOMPARE(eval("page3.noLogDlg.text").toString(), QString("Log file not found!"));
        eval("page3.noLogDlg.close()");

        // With no journal file name at all it is the same dialog.
        journal->setLogFile(QString());
        clickLink("logViewText");
        QTRY_VERIFY(eval("page3.noLogDlg.visible").toBool());
        eval("page3.noLogDlg.close()");
    }

    void loggingDialogLoadsTheStoredLimits()
    {
        {
            QSettings s;
            s.setValue("logging/size", 128);
            s.setValue("logging/count", 5);
            s.setValue("logging/network", true);
        }
        load();
        QCOMPARE(eval("page3.logSetupDialog.logSizeSpin.value").toInt(), 128);
        QCOMPARE(eval("page3.logSetupDialog.logBkpSpin.value").toInt(), 5);
        QVERIFY(eval("page3.logSetupDialog.logNetSwitch.checked").toBool());
        QVERIFY(!eval("page3.logSetupDialog.logProcSwitch.checked").toBool());
    }

    void loggingDialogAppliesItsLimits_data()
    {
        QTest::addColumn<QString>("sizeTyped");
        QTest::addColumn<QString>("countTyped");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("count");
        QTest::newRow("smallest") << "1"
                                  << "1" << 1 << 1;
        QTest::newRow("above the limits") << "5000"
                                          << "40" << 1024 << 16;
        QTest::newRow("below the limits") << "0"
                                          << "0" << 1 << 1;
        QTest::newRow("ordinary") << "200"
                                  << "7" << 200 << 7;
    }

    void loggingDialogAppliesItsLimits()
    {
        QFETCH(QString, sizeTyped);
        QFETCH(QString, countTyped);
        QFETCH(int, size);
        QFETCH(int, count);
        load();
        eval("page3.logSwitch.checked = true");
        clickLink("logSetupText");
        QTRY_VERIFY(eval("page3.logSetupDialog.opened").toBool());
        render("page3-dialog.png");
        typeInto(item("page3.logSetupDialog.logSizeSpin"), sizeTyped);
        typeInto(item("page3.logSetupDialog.logBkpSpin"), countTyped);
        clickAt(item("page3.logSetupDialog.logProcSwitch"));
        // OK straight from the field: the typed number counts.
        eval("page3.logSetupDialog.accept()");
        QTRY_VERIFY(!eval("page3.logSetupDialog.visible").toBool());

        QCOMPARE(stored("logging/size").toInt(), size);
        QCOMPARE(stored("logging/size").userType(), int(QMetaType::Int));
        QCOMPARE(stored("logging/count").toInt(), count);
        QCOMPARE(stored("logging/network").toString(), QString("false"));
        QCOMPARE(stored("logging/process").toString(), QString("true"));
        QCOMPARE(eval("page3.logSetupDialog.logSizeSpin.value").toInt(), size);
        QCOMPARE(eval("page3.logSetupDialog.logSizeSpin.contentItem.text").toString(),
                 QString::number(size));
        QCOMPARE(eval("page3.logSetupDialog.logBkpSpin.contentItem.text").toString(),
                 QString::number(count));
    }

    void cancellingTheLoggingDialogChangesNothing()
    {
        load();
        eval("page3.logSwitch.checked = true");
        clickLink("logSetupText");
        QTRY_VERIFY(eval("page3.logSetupDialog.opened").toBool());
        eval("page3.logSetupDialog.logSizeSpin.value = 10");
        eval("page3.logSetupDialog.logBkpSpin.value = 9");
        eval("page3.logSetupDialog.logNetSwitch.checked = true");
        eval("page3.logSetupDialog.reject()");
        QTRY_VERIFY(!eval("page3.logSetupDialog.visible").toBool());
        for (const char *key :
             {"logging/size", "logging/count", "logging/network", "logging/process"})
            QVERIFY2(!QSettings().contains(key), key);

        // Opened again, it still shows what was edited.
        clickLink("logSetupText");
        QTRY_VERIFY(eval("page3.logSetupDialog.opened").toBool());
        QCOMPARE(eval("page3.logSetupDialog.logSizeSpin.value").toInt(), 10);
        QCOMPARE(eval("page3.logSetupDialog.logBkpSpin.value").toInt(), 9);
        QVERIFY(eval("page3.logSetupDialog.logNetSwitch.checked").toBool());
    }

    void aboutTextNamesProductVersionDateAndMaker()
    {
        load();
        const QString about = eval("page3.text1.text").toString();
        QVERIFY2(about.contains("<h3>Tovel v3.3.4 (" + buildDate() + ")</h3>"), qPrintable(about));
        QVERIFY(about.contains("Brennic LLC"));
        QVERIFY(about.contains("<a href=\"https://"));
        QCOMPARE(eval("page3.text1.font.pixelSize").toInt(), 15);
    }

    // A check the user asked for says what it found: no newer version when
    // the feed was read, otherwise that it failed and why.
    void checkSaysWhatItFound_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("feedRead");
        for (const char *language : {"en", "ru"}) {
            QTest::addRow("%s, feed read", language) << language << true;
            QTest::addRow("%s, no server", language) << language << false;
        }
    }

    void checkSaysWhatItFound()
    {
        QFETCH(QString, language);
        QFETCH(bool, feedRead);
        WindowTest::Language shown(language);
        FeedServer server;
        QVERIFY(server.start());
        serveFeed(server, "older.xml");
        // Port 9 of loopback: nothing listens there.
        load(language, false,
             feedRead ? server.url("/appcast.xml") : "http://127.0.0.1:9/appcast.xml");
        waitForUpdateLink();
        QVERIFY(inSight("page3.updateLink"));

        clickAt(item("page3.updateLink"));
        const QString none = QCoreApplication::translate("Page3", "No updates available");
        const QString failed = QCoreApplication::translate("Page3", "Update check failed") + "\n";
        QTRY_VERIFY_WITH_TIMEOUT(eval("!page3.checkRequested").toBool(), 10000);
        const QString text = eval("page3.updateText.text").toString();
        if (feedRead) {
            QCOMPARE(text, none);
        } else {
            QVERIFY2(text.startsWith(failed) && text.size() > failed.size(), qPrintable(text));
            // Said once the check has failed, and said to stay (the same in
            // both languages: waited for once).
            if (language == "en") {
                QTest::qWait(2500);
                QCOMPARE(eval("page3.updateText.text").toString(), text);
            }
        }
        QVERIFY(statusReadWithoutScrolling());
        QVERIFY(inSight("page3.updateLink"));
        QVERIFY(!eval("page3.notesLink.visible").toBool());
        render(QString("%1-update-check-%2.png").arg(language, feedRead ? "none" : "failed"));
    }

    // An update that cannot be installed says why and where to get it: the
    // download page opened in the browser, or with no browser, its address.
    // All of it is read without scrolling at the window's size.
    void failedUpdateSaysWhereToGetIt_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("browser");
        for (const char *language : {"en", "ru"}) {
            QTest::addRow("%s, browser opens", language) << language << true;
            QTest::addRow("%s, no browser", language) << language << false;
        }
    }

    void failedUpdateSaysWhereToGetIt()
    {
        QFETCH(QString, language);
        QFETCH(bool, browser);
        WindowTest::Language shown(language);
        // The desktop's opener: it starts a browser, or finds none.
        QTemporaryDir bin;
        QFile opener(bin.filePath("xdg-open"));
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write(browser ? "#!/bin/sh\nexit 0\n" : "#!/bin/sh\nexit 3\n");
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ":" + path);
        auto restore = qScopeGuard([path] { qputenv("PATH", path); });
        FeedServer server;
        QVERIFY(server.start());
        serveFeed(server, "realistic.xml");
        load(language, false, server.url("/appcast.xml"));
        waitForUpdateLink();
        clickAt(item("page3.updateLink"));
        QTRY_VERIFY_WITH_TIMEOUT(eval("page3.updateDlg.visible").toBool(), 10000);
        eval("page3.updateDlg.close()");
        // Yes: this build has no key to verify the download with.
        eval("page3.updater.doUpdate()");
        const QString page = Updater::downloadPageUrl().toString();
        const QString last =
            browser
                ? QCoreApplication::translate(
                      "AppcastUpdater", "The download page %1 has been opened in your web browser.")
                      .arg(page)
                : QCoreApplication::translate(
                      "AppcastUpdater",
                      "No web browser could be opened. Updates can be downloaded from %1.")
                      .arg(page);
        QTRY_VERIFY2_WITH_TIMEOUT(eval("page3.updateText.text").toString().endsWith(last),
                                  qPrintable(eval("page3.updateText.text").toString()), 10000);
        QCOMPARE(eval("page3.updateText.text").toString().count('\n'), 2);
        QVERIFY(statusReadWithoutScrolling());
        render(QString("%1-update-not-installed-%2.png")
                   .arg(language, browser ? "opened" : "no-browser"));
    }

    // The question before an update carries the release notes, so that the
    // user reads what changed before answering.
    void offeredUpdateShowsItsNotesOnRequest()
    {
        load();
        waitForUpdateLink();
        clickAt(item("page3.updateLink"));
        QStringList lines;
        for (int i = 1; i <= 120; ++i)
            lines << QString("%1. The heartbeat waits for the process check to finish.").arg(i);
        QObject *updater = eval("page3.updater").value<QObject *>();
        QVERIFY(updater);
        QMetaObject::invokeMethod(updater, "newVersion", Q_ARG(QString, "3.4.0"),
                                  Q_ARG(QString, lines.join('\n')));
        QCOMPARE(eval("page3.updateText.text").toString(),
                 QString("An update to version 3.4.0 is available"));
        QCOMPARE(eval("page3.updateDlg.version").toString(), QString("3.4.0"));
        QVERIFY(eval("page3.updateDlg.visible").toBool());
        const QString asked = eval("page3.updateDlg.detailedText").toString();
        QVERIFY2(asked.startsWith(lines.first()) && asked.size() <= 4002,
                 qPrintable(asked.left(80)));
        eval("page3.updateDlg.close()");
        QVERIFY(inSight("page3.updateLink"));
        QVERIFY(inSight("page3.notesLink"));
        // The notes are laid out only once the user asks for them.
        QVERIFY(!eval("page3.notesDialog.visible").toBool());
        render("page3-offered.png");

        clickAt(item("page3.notesLink"), 0.5);
        QTRY_VERIFY(eval("page3.notesDialog.opened").toBool());
        render("page3-notes.png");
        QQuickItem *view = item("page3.notesDialog.notesView");
        QVERIFY(view->property("contentHeight").toReal() > 3 * view->height());
        QVERIFY(inSight("page3.notesDialog.notesView"));
        QVERIFY(inSight("page3.notesDialog.notesScrollBar"));
        QQuickItem *bar = item("page3.notesDialog.notesScrollBar");
        QVERIFY(bar->property("size").toReal() < 0.5);
        QVERIFY(bar->property("contentItem").value<QQuickItem *>()->opacity() > 0);

        const QPointF centre = view->mapToScene(QPointF(view->width() / 2, view->height() / 2));
        QWheelEvent wheel(centre, window()->mapToGlobal(centre.toPoint()), QPoint(),
                          QPoint(0, -360), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QGuiApplication::sendEvent(window(), &wheel);
        QTRY_VERIFY(view->property("contentY").toReal() > 0);
        QTRY_VERIFY(bar->property("position").toReal() > 0);
        eval("page3.notesDialog.close()");
    }

    void hostileFeedIsShownInBoundedTime_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("notes");
        QString tables;
        for (int i = 0; i < 3000; ++i)
            tables += "<table><tr><td>";
        tables += "Faster start.";
        for (int i = 0; i < 3000; ++i)
            tables += "</td></tr></table>";
        QTest::newRow("3000 nested tables in the notes")
            << "7.1" << tables + "<img src=\"@BASE@/notes.png\">";
        QTest::newRow("image in the version") << "<img src=\"@BASE@/version.png\">7.1"
                                              << "<p>Faster start.</p>";
    }

    void hostileFeedIsShownInBoundedTime()
    {
        QFETCH(QString, version);
        QFETCH(QString, notes);
        FeedServer server;
        QVERIFY(server.start());
        version.replace("@BASE@", server.base());
        notes.replace("@BASE@", server.base());
        const QString feed =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<rss version=\"2.0\" "
            "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
            "<item><sparkle:version>7.1</sparkle:version><sparkle:shortVersionString>" +
            version.toHtmlEscaped() + "</sparkle:shortVersionString><description><![CDATA[" +
            notes + "]]></description><enclosure url=\"" + server.base() +
            "/tovel3-7.1\" sparkle:os=\"linux\" length=\"10\"/></item></channel></rss>";
        server.answers.insert("/appcast.xml", {200, feed.toUtf8(), "application/rss+xml", true, 0});
        load("en", false, server.url("/appcast.xml"));
        waitForUpdateLink();

        StallMeter meter;
        clickAt(item("page3.updateLink"));
        const QString offered = QString("An update to version %1 is available").arg(version);
        QTRY_COMPARE_WITH_TIMEOUT(eval("page3.updateText.text").toString(), offered, 10000);
        QVERIFY(!eval("page3.updateDlg.text").toString().contains("<img"));
        eval("page3.updateDlg.close()");
        clickAt(item("page3.notesLink"));
        QTRY_VERIFY(eval("page3.notesDialog.opened").toBool());
        QTest::qWait(200);
        qInfo("Longest stall of the GUI thread: %lld ms", meter.longestMs());
        QVERIFY2(meter.longestMs() < 100, qPrintable(QString::number(meter.longestMs())));
        QVERIFY(eval("page3.notesDialog.notesText.text").toString().startsWith("Faster start."));
        QTest::qWait(200);
        QCOMPARE(server.hits.keys(), QList<QByteArray>{"/appcast.xml"});
    }
};

TOVEL3_TEST_MAIN(TestPage3)
#include "tst_page3.moc"
