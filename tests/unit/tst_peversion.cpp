#include "support/peimage.h"
#include "support/testfiles.h"
#include "update/buildversion.h"
#include "update/peversion.h"

#include <QtTest>

class TestPeVersion : public QObject
{
    Q_OBJECT

private slots:
    void crafted_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("version"); // empty: none
        const PeImage::Image plain;
        QTest::newRow("product version text") << PeImage::build(plain) << "3.3.5";
        PeImage::Image i = plain;
        i.productVersion = " 4.0.0-rc1 ";
        QTest::newRow("text wins over the fixed part") << PeImage::build(i) << "4.0.0-rc1";
        i = plain;
        i.productVersion.clear();
        QTest::newRow("fixed part only") << PeImage::build(i) << "3.3.5";
        i.fixed[3] = 7;
        QTest::newRow("fixed part with build") << PeImage::build(i) << "3.3.5.7";
        i.signature = 0x12345678;
        QTest::newRow("fixed part of a bad signature") << PeImage::build(i) << "";
        i = plain;
        i.magic = 0x10b;
        QTest::newRow("32-bit image") << PeImage::build(i) << "3.3.5";
        i = plain;
        i.resourceType = 3;
        QTest::newRow("no version resource") << PeImage::build(i) << "";
        i = plain;
        i.peOffset = 0x7ffffff0;
        QTest::newRow("header beyond the file") << PeImage::build(i) << "";
        const QByteArray whole = PeImage::build(plain);
        QTest::newRow("cut in the resource") << whole.left(whole.size() - 40) << "";
        QTest::newRow("cut in the header") << whole.left(100) << "";
        QTest::newRow("not a PE file") << QByteArray("\x7f"
                                                     "ELF....")
                                       << "";
    }

    void crafted()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, version);
        QCOMPARE(PeVersion::productVersion(file).value_or(QString()), version);
        QCOMPARE(BuildVersion::of(file).value_or(QString()), version);
    }

    // What this build made for Windows, when the Windows build is beside it.
    void windowsBuild_data()
    {
        QTest::addColumn<QString>("path");
        const QString dir = qEnvironmentVariable("TOVEL3_SOURCE_DIR") + "/build-windows";
        QTest::newRow("program") << dir + "/tovel3/tovel3.exe";
        QTest::newRow("installer") << dir + "/tovel3-" TOVEL3_VERSION "-win64.exe";
    }

    void windowsBuild()
    {
        QFETCH(QString, path);
        if (!QFile::exists(path))
            QSKIP("no Windows build beside this one");
        QCOMPARE(PeVersion::productVersion(TestFiles::contents(path)).value_or("none"),
                 QString(TOVEL3_VERSION));
    }
};

QTEST_GUILESS_MAIN(TestPeVersion)
#include "tst_peversion.moc"
