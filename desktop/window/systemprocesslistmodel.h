#pragma once

#include "monitor/systemprocess.h"

#include <QAbstractListModel>
#include <QFutureWatcher>
#include <QList>
#include <QMultiHash>
#include <QStringList>

// A snapshot of the running processes whose executable path can be read, in
// the order of the snapshot. Touches no shared state: safe on any thread.
QList<SystemProcess> enumerateSystemProcesses();

// One row per distinct executable path and owner, sorted by file name;
// reloads itself on the global thread pool.
class SystemProcessListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Status { Unknown = 0, Running = 1, NotResponding = 2 };
    Q_ENUM(Status)

    enum Roles {
        NameRole = Qt::UserRole + 1,
        PathRole,
        CountRole,
        MemoryRole,
        StatusRole,
        OwnerRole,
    };

    explicit SystemProcessListModel(QObject *parent = nullptr);
    ~SystemProcessListModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void reloaded();

public slots:
    void reload();

private slots:
    void procEnumerated();

private:
    // Rows and records are keyed by path and owner together.
    static QString keyOf(const SystemProcess &record);
    static QString pathOf(const QString &key);

    QMultiHash<QString, SystemProcess> m_records;
    QStringList m_rows;
    QFutureWatcher<QList<SystemProcess>> m_watcher;
    bool m_enumerating = false;
};
