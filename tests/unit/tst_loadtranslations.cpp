// The translation loader against the real catalogue in the resources and
// Qt's own installed one. The process runs with a Russian system locale, so an
// empty or missing language value must pick Russian.
#include "service/loadtranslations.h"
#include "storage/appsettings.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

class TestLoadTranslations : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void language_data();
    void language();
    void givenSettingsHandleIsUsed();
    void missingDirectoryLeavesEnglish();

private:
    void removeInstalled(QTranslator *appTranslator);
};

namespace
{
const char *const absent = "<absent>";

QString started()
{
    return QCoreApplication::translate("Logger", "application started");
}
} // namespace

void TestLoadTranslations::initTestCase()
{
    QCOMPARE(QLocale::system().name(), QString("ru_RU"));
    QVERIFY(QFile::exists(":/lang/tovel_ru.qm"));
}

void TestLoadTranslations::cleanup()
{
    QSettings().remove("UI/Language");
}

void TestLoadTranslations::removeInstalled(QTranslator *appTranslator)
{
    // Both translators must be installed: removing reports whether they were.
    QTranslator *qtTranslator = qApp->findChild<QTranslator *>("qtTranslator");
    QVERIFY(qtTranslator);
    QVERIFY(QCoreApplication::removeTranslator(appTranslator));
    QVERIFY(QCoreApplication::removeTranslator(qtTranslator));
    delete qtTranslator;
    delete appTranslator;
    QCOMPARE(started(), QString("application started"));
}

void TestLoadTranslations::language_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("russian");

    QTest::newRow("ru") << "ru" << true;
    QTest::newRow("ru_RU") << "ru_RU" << true;
    QTest::newRow("ru_UA") << "ru_UA" << true;
    QTest::newRow("en") << "en" << false;
    QTest::newRow("en_US") << "en_US" << false;
    QTest::newRow("unknown xx") << "xx" << false;
    QTest::newRow("tovel, not a language") << "tovel" << false;
    QTest::newRow("empty: system locale decides") << "" << true;
    QTest::newRow("absent: system locale decides") << absent << true;
}

void TestLoadTranslations::language()
{
    QFETCH(QString, stored);
    QFETCH(bool, russian);

    if (stored != absent)
        QSettings().setValue("UI/Language", stored);
    QTranslator *translator = loadTranslations(qApp, nullptr, "lang");
    QVERIFY(translator);
    QCOMPARE(translator->isEmpty(), !russian);
    QCOMPARE(started(), russian ? QString("приложение запущено") : QString("application started"));
    QCOMPARE(QCoreApplication::translate("Logger", "application closed"),
             russian ? QString("приложение закрыто") : QString("application closed"));
    // Qt's own catalogue comes with it: the buttons Qt labels itself.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"),
             russian ? QString("Отмена") : QString("Cancel"));
    // The loader only reads the stored value.
    QSettings settings;
    QCOMPARE(settings.contains("UI/Language"), stored != absent);
    if (stored != absent)
        QCOMPARE(settings.value("UI/Language").toString(), stored);
    removeInstalled(translator);
}

void TestLoadTranslations::givenSettingsHandleIsUsed()
{
    QSettings().setValue("UI/Language", "ru");
    QTemporaryDir dir;
    AppSettings other(QSettings::IniFormat, dir.filePath("other.ini"));
    other.setLanguage("en");

    QTranslator *translator = loadTranslations(qApp, &other, "lang");
    QCOMPARE(started(), QString("application started"));
    removeInstalled(translator);

    other.setLanguage("ru");
    QSettings().setValue("UI/Language", "en");
    translator = loadTranslations(qApp, &other, "lang");
    QCOMPARE(started(), QString("приложение запущено"));
    removeInstalled(translator);
}

void TestLoadTranslations::missingDirectoryLeavesEnglish()
{
    QSettings().setValue("UI/Language", "ru");
    QTranslator *translator = loadTranslations(qApp, nullptr, "nolang");
    QVERIFY(translator->isEmpty());
    QCOMPARE(started(), QString("application started"));
    removeInstalled(translator);
}

// A Russian system: the locale comes from the environment and is fixed once
// the application object exists.
int main(int argc, char **argv)
{
    qputenv("LC_ALL", "ru_RU.UTF-8");
    qputenv("LANG", "ru_RU.UTF-8");
    qunsetenv("LANGUAGE");
    TestEnvironment::isolate();
    TOVEL3_TEST_APPLICATION app(argc, argv);
    app.setOrganizationName("Brennic");
    app.setApplicationName("Tovel3");
    app.setApplicationVersion(TOVEL3_VERSION);
    TestLoadTranslations tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_loadtranslations.moc"
