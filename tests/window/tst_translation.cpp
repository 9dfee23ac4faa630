// The Russian catalogue compiled into the resources: every text the QML files
// and the native classes hand to the translator must come out in Russian,
// placeholders and markup intact, the Russian pages must still fit the fixed
// window width, and the engine's journal lines come out in Russian at run time.
#include "boardsim/boardsimulator.h"
#include "storage/journal.h"
#include "support/testenvironment.h"
#include "support/windowharness.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

using namespace WindowTest;

namespace
{
struct Message {
    QString context;
    QString source;
};

// What lupdate extracts from the given files, read from a fresh catalogue.
QVector<Message> extract(const QStringList &files, QString *error)
{
    QTemporaryDir dir;
    const QString ts = dir.filePath("extract_ru.ts");
    QString lupdate = QStandardPaths::findExecutable("lupdate");
    if (lupdate.isEmpty())
        lupdate = QStandardPaths::findExecutable("lupdate", {"/usr/lib/qt5/bin"});
    QProcess run;
    run.start(lupdate, QStringList{"-silent", "-locations", "none"} << files << "-ts" << ts);
    if (!run.waitForFinished(60000) || run.exitCode() != 0) {
        *error = "lupdate failed: " + QString::fromLocal8Bit(run.readAllStandardError());
        return {};
    }
    QFile file(ts);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = "no catalogue written";
        return {};
    }
    QVector<Message> out;
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            out.push_back({context, xml.readElementText()});
    }
    return out;
}

QStringList placeholders(const QString &text)
{
    QStringList found;
    auto it = QRegularExpression("%\\d|<[^>]+>").globalMatch(text);
    while (it.hasNext())
        found << it.next().captured(0);
    found.sort();
    return found;
}
} // namespace

class TestTranslation : public QObject
{
    Q_OBJECT

private:
    QTranslator russian;

    static QString sourceDir() { return qEnvironmentVariable("TOVEL3_SOURCE_DIR"); }

    // The files whose texts the build checks: the QML and the native folders.
    static QStringList interfaceFiles()
    {
        QStringList files;
        const QList<QPair<QString, QString>> folders = {{"qml", "*.qml"},
                                                        {"tovel3", "*.cpp"},
                                                        {"engine", "*.cpp"},
                                                        {"engine/control", "*.cpp"},
                                                        {"engine/device", "*.cpp"},
                                                        {"engine/monitor", "*.cpp"},
                                                        {"engine/service", "*.cpp"},
                                                        {"engine/storage", "*.cpp"},
                                                        {"desktop/integration", "*.cpp"},
                                                        {"desktop/tray", "*.cpp"},
                                                        {"desktop/update", "*.cpp"},
                                                        {"desktop/window", "*.cpp"}};
        for (const auto &folder : folders) {
            QDir dir(sourceDir() + "/" + folder.first);
            for (const QString &name : dir.entryList({folder.second}, QDir::Files, QDir::Name))
                files << dir.filePath(name);
        }
        return files;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!sourceDir().isEmpty(), "TOVEL3_SOURCE_DIR is not set");
        QVERIFY(russian.load(":/lang/tovel_ru.qm"));
        QmlPageWindow::prepare();
        installMessageHandler();
    }

    void init() { startCase(); }
    void cleanup() { verifyNoQmlProblems(); }

    void journalLinesOfStartUp_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("russian");
        QTest::newRow("started") << "application started" << QString("приложение запущено");
        QTest::newRow("closed") << "application closed" << QString("приложение закрыто");
        QTest::newRow("closing") << "application is about to be closed"
                                 << QString("приложение будет закрыто");
    }

    void journalLinesOfStartUp()
    {
        QFETCH(QString, source);
        QFETCH(QString, russian);
        QCOMPARE(this->russian.translate("Logger", source.toUtf8().constData()), russian);
    }

    void everyInterfaceTextHasRussian()
    {
        const QStringList files = interfaceFiles();
        QVERIFY(files.size() >= 20);
        QString error;
        const QVector<Message> messages = extract(files, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(messages.size() > 100);

        QStringList untranslated, broken;
        const QRegularExpression cyrillic("[\\x{0400}-\\x{04FF}]");
        for (const Message &m : messages) {
            const QString ru =
                russian.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData());
            if (ru.isEmpty()) {
                untranslated << m.context + ": " + m.source;
                continue;
            }
            if (placeholders(ru) != placeholders(m.source))
                broken << m.context + ": " + m.source + " -> " + ru;
            // Words must read as Russian; names, units of one letter and channel ids may stay.
            if (m.source.count(QRegularExpression("[A-Za-z]{4,}")) > 0 && !ru.contains(cyrillic) &&
                !QStringList{"Tovel", "USB Tovel v%1"}.contains(m.source))
                untranslated << m.context + ": " + m.source + " (left in English)";
        }
        QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join("\n")));
        QVERIFY2(broken.isEmpty(), qPrintable(broken.join("\n")));
    }

    void menuAcceleratorsSurvive()
    {
        for (const char *source : {"C&ut", "&Copy", "&Paste", "Select &all"}) {
            const QString ru = russian.translate("TextFieldMenu", source);
            QCOMPARE(ru.count('&'), 1);
        }
    }

    void russianPagesFitTheWindow_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("controls");
        QTest::newRow("main") << "Page1"
                              << QStringList{"portsCombo",     "scanbtn",          "urlCheckBox",
                                             "urlField",       "monitorCheckBox",  "monitorField",
                                             "groupContolBox", "remote_btn_m1",    "remote_btn_m2",
                                             "checkBox_p",     "pingTimeoutSlider"};
        QTest::newRow("device settings")
            << "Page2"
            << QStringList{"t1Box", "t2Box", "t3Box", "t4Box",      "t5Box",      "p6Box",
                           "p7Box", "p8Box", "p9Box", "p10spinBox", "readbutton", "writebutton"};
        QTest::newRow("application")
            << "Page3"
            << QStringList{"autostartSwitch", "hideSwitch", "softwareSwitch", "legacySwitch",
                           "logSwitch",       "langCombo",  "langWarn"};
    }

    void russianPagesFitTheWindow()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, controls);
        QVERIFY(QCoreApplication::installTranslator(&russian));
        QSettings().setValue("UI/Language", "ru");
        const QString harness = QString(R"(
import QtQuick 2.10
import QtQuick.Controls 2.3
import Tovel3 1.0
ApplicationWindow {
    width: 580; height: 540; visible: true
    SettingsTransfer { id: settings }
    AutoStarter { id: astarter }
    %1 { objectName: "page"; anchors.fill: parent }
}
)")
                                    .arg(page);
        QmlPageWindow qml;
        auto uninstall = qScopeGuard([this, &qml] {
            qml.destroy();
            QCoreApplication::removeTranslator(&russian);
        });
        QVERIFY2(qml.create(harness.toUtf8(), QUrl("qrc:/translationharness.qml"), nullptr),
                 qPrintable(qml.errorString()));
        QObject *root = qml.root();
        QQuickWindow *window = qml.window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QObject *pageItem = root->findChild<QObject *>("page");
        QVERIFY(pageItem);
        if (page == "Page3") // the longest notice, beside the language box
            QMetaObject::invokeMethod(pageItem, "languageChosen", Q_ARG(QVariant, 0));
        for (const QString &id : controls) {
            auto *item = pageItem->property(id.toUtf8().constData()).value<QQuickItem *>();
            QVERIFY2(item, qPrintable(id));
            const QRectF box = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
            QVERIFY2(
                box.left() >= 0 && box.right() <= window->width() + 0.5,
                qPrintable(QString("%1 spans %2..%3").arg(id).arg(box.left()).arg(box.right())));
        }

        // Every text the page shows, combo entries and tool tips included, is Russian
        // at run time: none of the page's English sources shows through.
        const QString base = sourceDir() + "/qml/" + page;
        QString error;
        const QVector<Message> sources = extract({base + ".qml", base + "Form.ui.qml"}, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QStringList shown;
        for (QObject *o : root->findChildren<QObject *>()) {
            for (const char *name : {"text", "displayText", "title"}) {
                const QVariant v = o->property(name);
                if (v.userType() == QMetaType::QString)
                    shown << v.toString();
            }
            if (o->metaObject()->indexOfMethod("textAt(int)") >= 0) {
                for (int i = 0; i < o->property("count").toInt(); ++i) {
                    QString entry;
                    QMetaObject::invokeMethod(o, "textAt", Q_RETURN_ARG(QString, entry),
                                              Q_ARG(int, i));
                    shown << entry;
                }
            }
        }
        QVERIFY(shown.size() > 20);
        QStringList leaks;
        for (const Message &m : sources) {
            const QString ru =
                russian.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData());
            if (m.source.size() < 2 || ru == m.source)
                continue;
            const QRegularExpression english("(?<!\\w)" + QRegularExpression::escape(m.source) +
                                             "(?!\\w)");
            for (const QString &text : shown)
                if (text.contains(english))
                    leaks << m.source + " in \"" + text + "\"";
        }
        QVERIFY2(leaks.isEmpty(), qPrintable(leaks.join("\n")));
        qml.render(page.toLower() + "-ru.png", 700);
    }

    // The whole window in Russian with a board: the page shows it in Russian
    // and the engine journals its arrival in Russian.
    void russianWindowWithABoard()
    {
        BoardSimulator board(BoardSimulator::X2);
        QVERIFY(board.start());
        qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(board.portPath()));
        Journal journal;
        journal.setup(TestEnvironment::home() + "/log", "tovel3.log");
        journal.setPaused(false);
        QFile::remove(journal.getLogFile());
        QVERIFY(QCoreApplication::installTranslator(&russian));
        QmlPageWindow qml;
        auto uninstall = qScopeGuard([this, &qml] {
            qml.destroy();
            QCoreApplication::removeTranslator(&russian);
            qunsetenv("TOVEL3_EXTRA_PORTS");
        });
        QVERIFY2(qml.create(QUrl("qrc:/main.qml"), &journal), qPrintable(qml.errorString()));
        // No heartbeat yet, so no reading (the port's opening identifies
        // the board already).
        QCOMPARE(qml.eval("page1.get_in_label.text").toString(), QString("н/д"));
        QCOMPARE(qml.eval("page1.pingTimeoutText.text").toString(), QString("1000мс"));
        QVERIFY(qml.eval("page1.checkBox_p.ToolTip.text").toString().contains("\n"));

        qml.setCycle(100);
        QTRY_COMPARE(qml.eval("page1.label_info.text").toString(),
                     QString("Тип: Ostrel X2, версия: 3.1, каналов: 2"));
        QTRY_COMPARE(qml.eval("page1.get_in_label.text").toString(), QString("ТЕМП: 23.5\u2103"));
        QFile log(journal.getLogFile());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(log.readAll()).contains("Подключён Ostrel X2 v3.1U\r\n"));
    }
};

TOVEL3_TEST_MAIN(TestTranslation)
#include "tst_translation.moc"
