// Opening a file with a stand-in xdg-open as the only program on PATH: a
// failure is reported with the file's path, a success is not.
#include "fileopener.h"
#include "testenvironment.h"

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
        QTest::newRow("no opener") << QString() << true;
        // What xdg-open does on a system without a program for the file.
        QTest::newRow("opener finds no program") << "exit 3" << true;
        QTest::newRow("opener dies") << "kill -9 $$" << true;
        QTest::newRow("opener starts a program")
            << "printf %s \"$1\" > \"${0%/*}/opened\"" << false;
    }

    void reportsAFileNothingOpened()
    {
        QFETCH(QString, opener);
        QFETCH(bool, fails);
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

        const QString file = bin.filePath("tovel3 log.txt");
        FileOpener files;
        QSignalSpy failed(&files, &FileOpener::failed);
        files.open(file);
        QTRY_VERIFY(files.findChildren<QProcess *>().isEmpty());
        QCOMPARE(failed.count(), fails ? 1 : 0);
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
