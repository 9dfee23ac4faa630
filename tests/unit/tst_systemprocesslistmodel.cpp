#include "monitor/systemprocess.h"
#include "support/testenvironment.h"
#include "window/qmlhost.h"
#include "window/systemprocesslistmodel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QBrush>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace
{
QString uniqueName(const QString &prefix)
{
    QString s = prefix;
    for (int i = 0; i < 8; ++i)
        s += QChar('a' + QRandomGenerator::global()->bounded(26));
    return s;
}

QString ownName()
{
    const passwd *entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(::geteuid());
}

QString sortKey(const QString &path)
{
    return path.mid(path.lastIndexOf('/') + 1).toLower();
}
} // namespace

class SystemProcessListModelTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::vector<std::unique_ptr<QProcess>> m_children;
    std::unique_ptr<SystemProcessListModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

    // A copy of sleep at dir/name, so the executable path is ours alone.
    QString program(const QString &dir, const QString &name)
    {
        QDir().mkpath(m_dir->filePath(dir));
        const QString path = QFileInfo(m_dir->filePath(dir + "/" + name)).absoluteFilePath();
        if (!QFile::exists(path) && !QFile::copy("/bin/sleep", path))
            return QString();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return QFileInfo(path).canonicalFilePath();
    }

    bool run(const QString &path, int copies = 1)
    {
        for (int i = 0; i < copies; ++i) {
            auto p = std::make_unique<QProcess>();
            p->start(path, {"60"});
            if (!p->waitForStarted(5000))
                return false;
            m_children.push_back(std::move(p));
        }
        return true;
    }

    bool reloadAndWait(SystemProcessListModel &model)
    {
        QSignalSpy spy(&model, &SystemProcessListModel::reloaded);
        model.reload();
        return spy.wait(10000) && spy.count() == 1;
    }

    int rowOf(const SystemProcessListModel &model, const QString &path)
    {
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.index(row).data(SystemProcessListModel::PathRole).toString() == path)
                return row;
        }
        return -1;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_model = std::make_unique<SystemProcessListModel>();
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
        for (auto &p : m_children) {
            p->kill();
            p->waitForFinished(3000);
        }
        m_children.clear();
        m_dir.reset();
    }

    // One row per executable path; the same program in another folder is
    // another row, next to it.
    void groupsProcessesByPath()
    {
        QCOMPARE(m_model->rowCount(), 0);
        const QHash<int, QByteArray> roles = {
            {Qt::UserRole + 1, "pname"}, {Qt::UserRole + 2, "ppath"}, {Qt::UserRole + 3, "pcount"},
            {Qt::UserRole + 4, "pmem"},  {Qt::UserRole + 5, "pstat"}, {Qt::UserRole + 6, "powner"}};
        QCOMPARE(m_model->roleNames(), roles);

        const QString name = uniqueName("tovel3-crowd-");
        const QString path = program("a", name);
        const QString twin = program("b", name);
        QVERIFY(run(path, 12) && run(twin, 3));
        QVERIFY(reloadAndWait(*m_model));

        const int row = rowOf(*m_model, path);
        QVERIFY(row >= 0);
        const QModelIndex index = m_model->index(row);
        QCOMPARE(index.data(SystemProcessListModel::NameRole).toString(), name);
        QCOMPARE(index.data(SystemProcessListModel::CountRole).toInt(), 12);
        QCOMPARE(index.data(SystemProcessListModel::MemoryRole).toDouble(), -12.0);
        QCOMPARE(index.data(SystemProcessListModel::StatusRole).toInt(),
                 int(SystemProcessListModel::Unknown));
        QCOMPARE(index.data(Qt::DisplayRole).toString(), name + " (12)");
        QCOMPARE(index.data(SystemProcessListModel::OwnerRole).toString(), ownName());
        QCOMPARE(index.data(Qt::DecorationRole).value<QBrush>(), QBrush(Qt::green));
        const int twinRow = rowOf(*m_model, twin);
        QCOMPARE(qAbs(twinRow - row), 1);
        QCOMPARE(m_model->index(twinRow).data(SystemProcessListModel::NameRole).toString(), name);
        QCOMPARE(m_model->index(twinRow).data(SystemProcessListModel::CountRole).toInt(), 3);
        // roles outside the table and rows outside the model are empty
        QVERIFY(!index.data(Qt::UserRole + 7).isValid());
        QVERIFY(!index.data(Qt::ToolTipRole).isValid());
        QVERIFY(!m_model->index(m_model->rowCount()).isValid());
        QVERIFY(!m_model->data(QModelIndex(), SystemProcessListModel::NameRole).isValid());
        QCOMPARE(m_model->rowCount(index), 0);
    }

    void everyRowIsAReadableExecutable()
    {
        // a zombie has no executable path left and is not listed
        const QString zombiePath = program("z", uniqueName("tovel3-zombie-"));
        const QByteArray encoded = QFile::encodeName(zombiePath);
        char *argv[] = {const_cast<char *>(encoded.constData()), const_cast<char *>("0"), nullptr};
        pid_t zombie = 0;
        QCOMPARE(posix_spawn(&zombie, encoded.constData(), nullptr, nullptr, argv, environ), 0);
        QTRY_VERIFY([zombie] {
            QFile stat(QString("/proc/%1/stat").arg(zombie));
            return stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z ");
        }());
        const QString live = program("a", uniqueName("tovel3-live-"));
        QVERIFY(run(live));

        QVERIFY(reloadAndWait(*m_model));
        ::waitpid(zombie, nullptr, 0);
        QVERIFY(rowOf(*m_model, live) >= 0);
        QCOMPARE(rowOf(*m_model, zombiePath), -1);
        // our own test program is listed too
        QVERIFY(rowOf(*m_model,
                      QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath()) >= 0);

        int processes = 0;
        for (int row = 0; row < m_model->rowCount(); ++row) {
            const QModelIndex index = m_model->index(row);
            const QString path = index.data(SystemProcessListModel::PathRole).toString();
            QVERIFY(path.startsWith('/'));
            QCOMPARE(index.data(SystemProcessListModel::NameRole).toString(),
                     path.mid(path.lastIndexOf('/') + 1));
            processes += index.data(SystemProcessListModel::CountRole).toInt();
            QCOMPARE(index.data(SystemProcessListModel::MemoryRole).toDouble(),
                     -index.data(SystemProcessListModel::CountRole).toDouble());
        }
        QVERIFY(processes >= m_model->rowCount());
    }

    void sortsByFileNameIgnoringCase_data()
    {
        // folder/file of three programs, in the order the rows must come
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("lower after capital") << QStringList{"x/A.exe", "x/b.exe", "x/c.exe"};
        QTest::newRow("capital after lower") << QStringList{"x/a.exe", "x/B.exe", "x/C.exe"};
        QTest::newRow("folder does not count") << QStringList{"z/a.exe", "y/B.exe", "x/c.exe"};
        QTest::newRow("no extension") << QStringList{"q/Tovel", "p/tovel3", "o/TOVEL3d"};
    }

    void sortsByFileNameIgnoringCase()
    {
        QFETCH(QStringList, expected);
        const QString top = uniqueName("s");
        QStringList paths;
        for (const QString &entry : expected) {
            const QString dir = top + "/" + entry.section('/', 0, 0);
            paths << program(dir, entry.section('/', 1));
            QVERIFY(!paths.last().isEmpty());
        }
        for (int i = paths.size() - 1; i >= 0; --i)
            QVERIFY(run(paths[i]));
        QVERIFY(reloadAndWait(*m_model));

        QList<int> rows;
        for (const QString &path : qAsConst(paths))
            rows << rowOf(*m_model, path);
        QVERIFY(rows.first() >= 0);
        QVERIFY2(std::is_sorted(rows.begin(), rows.end()) && rows[0] != rows[1] &&
                     rows[1] != rows[2],
                 qPrintable(QString("rows %1 %2 %3").arg(rows[0]).arg(rows[1]).arg(rows[2])));

        paths.clear();
        for (int row = 0; row < m_model->rowCount(); ++row)
            paths << m_model->index(row).data(SystemProcessListModel::PathRole).toString();
        for (int i = 1; i < paths.size(); ++i)
            QVERIFY2(sortKey(paths[i - 1]) <= sortKey(paths[i]),
                     qPrintable(paths[i - 1] + " before " + paths[i]));
        QStringList rowKeys;
        for (int row = 0; row < m_model->rowCount(); ++row)
            rowKeys << paths[row] + '\n' +
                           m_model->index(row).data(SystemProcessListModel::OwnerRole).toString();
        QCOMPARE(rowKeys.removeDuplicates(), 0);
    }

    // One program run by two users gives a row for each, so that picking a
    // row also tells whose process is meant.
    void rowPerOwner()
    {
        if (::geteuid() != 0)
            QSKIP("processes of another user can only be started as root");
        QTemporaryDir shared("/tmp/tp-XXXXXX");
        QVERIFY(QFile::setPermissions(shared.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ExeOwner | QFile::ReadOther |
                                                         QFile::ExeOther));
        const QString path = shared.path() + "/" + uniqueName("tovel3-shared-");
        QVERIFY(QFile::copy("/bin/sleep", path));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                                QFile::ExeOther));
        QVERIFY(run(path));
        for (int i = 0; i < 2; ++i) {
            auto p = std::make_unique<QProcess>();
            p->start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", path, "60"});
            QVERIFY(p->waitForStarted(5000));
            m_children.push_back(std::move(p));
        }
        QTest::qWait(200); // setpriv has become the program
        QVERIFY(reloadAndWait(*m_model));
        QMap<QString, int> counts;
        for (int row = 0; row < m_model->rowCount(); ++row) {
            const QModelIndex index = m_model->index(row);
            if (index.data(SystemProcessListModel::PathRole).toString() == path)
                counts.insert(index.data(SystemProcessListModel::OwnerRole).toString(),
                              index.data(SystemProcessListModel::CountRole).toInt());
        }
        QCOMPARE(counts, (QMap<QString, int>{{"root", 1}, {"nobody", 2}}));
    }

    void reloadWhileEnumeratingIsIgnored()
    {
        QSignalSpy spy(m_model.get(), &SystemProcessListModel::reloaded);
        m_model->reload();
        m_model->reload();
        QVERIFY(spy.wait(10000));
        QTest::qWait(500);
        QCOMPARE(spy.count(), 1);
        QVERIFY(m_model->rowCount() > 0);

        // once idle again, a reload enumerates afresh
        const QString path = program("late", uniqueName("tovel3-late-"));
        QVERIFY(run(path));
        QCOMPARE(rowOf(*m_model, path), -1);
        QVERIFY(reloadAndWait(*m_model));
        QVERIFY(rowOf(*m_model, path) >= 0);
    }

    void reloadAnnouncesRemovalThenInsertion()
    {
        QVERIFY(reloadAndWait(*m_model));
        const int before = m_model->rowCount();
        QVERIFY(before > 0);

        QStringList log;
        connect(m_model.get(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
                [&](const QModelIndex &, int first, int last) {
                    log << QString("remove %1-%2").arg(first).arg(last);
                });
        connect(m_model.get(), &QAbstractItemModel::rowsInserted, this,
                [&](const QModelIndex &, int first, int last) {
                    log << QString("insert %1-%2").arg(first).arg(last);
                });
        connect(m_model.get(), &SystemProcessListModel::reloaded, this,
                [&] { log << QString("reloaded %1").arg(m_model->rowCount()); });

        QSignalSpy spy(m_model.get(), &SystemProcessListModel::reloaded);
        m_model->reload();
        // the rows go at once; the snapshot follows later
        QCOMPARE(log, QStringList{QString("remove 0-%1").arg(before - 1)});
        QCOMPARE(m_model->rowCount(), 0);
        QVERIFY(spy.wait(10000));
        const int after = m_model->rowCount();
        QCOMPARE(log, (QStringList{QString("remove 0-%1").arg(before - 1),
                                   QString("insert 0-%1").arg(after - 1),
                                   QString("reloaded %1").arg(after)}));
        disconnect(m_model.get(), nullptr, this, nullptr);
    }

    void destructionWaitsForTheEnumeration()
    {
        for (int i = 0; i < 20; ++i) {
            auto *model = new SystemProcessListModel;
            QSignalSpy spy(model, &SystemProcessListModel::reloaded);
            model->reload();
            if (i % 2)
                QTest::qWait(1); // sometimes the result is delivered before deletion
            const int delivered = spy.count();
            QVERIFY(delivered <= 1);
            delete model;
            // destruction itself delivers nothing
            QCOMPARE(spy.count(), delivered);
        }
        QTest::qWait(100); // no late delivery to a deleted model
    }

    // What a click on a card picks, the name and the owner, tst_page1's
    // process dialog checks.
    void viewShowsTheCards()
    {
        const QString name = uniqueName("tovel3-view-");
        const QString path = program("v", name);
        QVERIFY(run(path, 3));

        QmlHost::registerTypes();
        QStringList problems;
        QQuickView view;
        view.setResizeMode(QQuickView::SizeRootObjectToView);
        connect(view.engine(), &QQmlEngine::warnings, this, [&](const QList<QQmlError> &errors) {
            for (const QQmlError &e : errors)
                problems << e.toString();
        });
        view.setSource(QUrl("qrc:/SystemProcessList.qml"));
        QVERIFY2(view.status() == QQuickView::Ready, qPrintable(problems.join('\n')));
        view.resize(400, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        QQuickItem *list = view.rootObject();
        QVERIFY(list);
        auto *model = qobject_cast<SystemProcessListModel *>(
            list->property("sysProcModel").value<QObject *>());
        QVERIFY(model);
        QCOMPARE(list->property("count").toInt(), 0);
        QVERIFY(reloadAndWait(*model));
        QCOMPARE(list->property("count").toInt(), model->rowCount());

        const int row = rowOf(*model, path);
        QVERIFY(row >= 0);
        QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, row), Q_ARG(int, 1));
        QQuickItem *card = nullptr;
        QTRY_VERIFY((card = qobject_cast<QQuickItem *>([&] {
                         QQuickItem *item = nullptr;
                         QMetaObject::invokeMethod(list, "itemAtIndex",
                                                   Q_RETURN_ARG(QQuickItem *, item),
                                                   Q_ARG(int, row));
                         return item;
                     }())));
        QTRY_VERIFY(card->height() > 30);
        QVERIFY2(card->width() > 300 && card->width() <= 400,
                 qPrintable(QString::number(card->width())));

        // the status square stays hidden for rows of unknown status
        const QList<QQuickItem *> squares = card->findChildren<QQuickItem *>("statusSquare");
        QCOMPARE(squares.size(), 1);
        QVERIFY(!squares.first()->isVisible());
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    }
};

TOVEL3_TEST_MAIN(SystemProcessListModelTest)
#include "tst_systemprocesslistmodel.moc"
