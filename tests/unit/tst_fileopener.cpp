// Opening a file or a web page with a stand-in xdg-open as the only program
// on PATH: a failure is reported with the file's path or the page's address,
// a success as such.
#include "integration/fileopener.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

class TestFileOpener : public QObject
{
    Q_OBJECT

private slots:
    void reportsAFileNothingOpened_data()
    {
        QTest::addColumn<QString>("opener"); // the stand-in's script; empty: there is none
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QString>("target"); // empty: a file
        const QString started = "printf %s \"$1\" > \"${0%/*}/opened\"";
        QTest::newRow("no opener") << QString() << true << QString();
        // What xdg-open does on a system without a program for the file.
        QTest::newRow("opener finds no program") << "exit 3" << true << QString();
        QTest::newRow("opener dies") << "kill -9 $$" << true << QString();
        QTest::newRow("opener starts a program") << started << false << QString();
        const QString page = "https://update.brennic.example/software/tovel3/download/";
        QTest::newRow("no browser for a page") << "exit 3" << true << page;
        QTest::newRow("browser opens a page") << started << false << page;
    }

    void reportsAFileNothingOpened()
    {
        QFETCH(QString, opener);
        QFETCH(bool, fails);
        QFETCH(QString, target);
        QTemporaryDir bin;
        if (!opener.isEmpty()) {
            QFile script(bin.filePath("xdg-open"));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\n" + opener.toUtf8() + "\n");
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        auto restore = qScopeGuard([path] { qputenv("PATH", path); });

        const QString file = target.isEmpty() ? bin.filePath("tovel3 log.txt") : target;
        FileOpener files;
        QSignalSpy failed(&files, &FileOpener::failed);
        QSignalSpy opened(&files, &FileOpener::opened);
        files.open(file);
        QTRY_VERIFY(files.findChildren<QProcess *>().isEmpty());
        QCOMPARE(failed.count(), fails ? 1 : 0);
        QCOMPARE(opened.count(), fails ? 0 : 1);
        if (fails) {
            QCOMPARE(failed.first().first().toString(), file);
        } else {
            QFile opened(bin.filePath("opened"));
            QVERIFY(opened.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(opened.readAll()), file);
        }
    }
};

TOVEL3_TEST_MAIN(TestFileOpener)
#include "tst_fileopener.moc"
