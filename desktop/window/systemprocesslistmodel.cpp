#include "window/systemprocesslistmodel.h"

#include <QBrush>
#include <QtConcurrent>

#include <algorithm>
#include <utility>
#include <vector>

SystemProcessListModel::SystemProcessListModel(QObject *parent)
    : QAbstractListModel(parent)
{
    connect(&m_watcher, &QFutureWatcherBase::finished, this,
            &SystemProcessListModel::procEnumerated);
}

SystemProcessListModel::~SystemProcessListModel()
{
    // Waiting without running the event loop: a result delivered now would
    // notify views that may already be half torn down.
    disconnect(&m_watcher, nullptr, this, nullptr);
    m_watcher.waitForFinished();
}

int SystemProcessListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QHash<int, QByteArray> SystemProcessListModel::roleNames() const
{
    return {{NameRole, "pname"},  {PathRole, "ppath"},   {CountRole, "pcount"},
            {MemoryRole, "pmem"}, {StatusRole, "pstat"}, {OwnerRole, "powner"}};
}

QString SystemProcessListModel::keyOf(const SystemProcess &record)
{
    // No path and no user name holds a NUL.
    return record.path() + QChar(0) + record.owner();
}

QString SystemProcessListModel::pathOf(const QString &key)
{
    return key.left(key.lastIndexOf(QChar(0)));
}

QVariant SystemProcessListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows.size())
        return QVariant();
    const QString &key = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return m_records.value(key).name() + QStringLiteral(" (%1)").arg(m_records.count(key));
    case Qt::DecorationRole: {
        bool failed = false;
        for (auto it = m_records.constFind(key); it != m_records.cend() && it.key() == key; ++it)
            failed = failed || it.value().isFailed();
        return QBrush(failed ? Qt::red : Qt::green);
    }
    case NameRole:
        return m_records.value(key).name();
    case PathRole:
        return pathOf(key);
    case OwnerRole:
        return m_records.value(key).owner();
    case CountRole:
        return m_records.count(key);
    case MemoryRole: {
        double sum = 0.0;
        for (auto it = m_records.constFind(key); it != m_records.cend() && it.key() == key; ++it)
            sum += it.value().memory();
        return sum;
    }
    case StatusRole: {
        bool failed = false;
        bool flagged = false;
        for (auto it = m_records.constFind(key); it != m_records.cend() && it.key() == key; ++it) {
            failed = failed || it.value().isFailed();
            flagged = flagged || it.value().status() != 0;
        }
        return int(failed ? NotResponding : flagged ? Running : Unknown);
    }
    default:
        return QVariant();
    }
}

void SystemProcessListModel::reload()
{
    // Also covers the moment between the end of the work and the delivery
    // of its result, which the watcher alone would not report as running.
    if (m_enumerating || m_watcher.isRunning())
        return;
    if (!m_records.isEmpty()) {
        beginRemoveRows(QModelIndex(), 0, m_rows.size() - 1);
        m_records.clear();
        m_rows.clear();
        endRemoveRows();
    }
    m_enumerating = true;
    m_watcher.setFuture(QtConcurrent::run(enumerateSystemProcesses));
}

void SystemProcessListModel::procEnumerated()
{
    m_enumerating = false;
    const QList<SystemProcess> found = m_watcher.future().result();
    if (!found.isEmpty()) {
        QMultiHash<QString, SystemProcess> records;
        QStringList rows;
        for (const SystemProcess &record : found) {
            const QString key = keyOf(record);
            if (!records.contains(key))
                rows.append(key);
            records.insert(key, record);
        }
        std::vector<std::pair<QString, QString>> keyed;
        keyed.reserve(size_t(rows.size()));
        for (const QString &key : qAsConst(rows)) {
            const QString path = pathOf(key);
            const int sep =
                std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
            keyed.emplace_back(path.mid(sep + 1).toLower(), key);
        }
        std::sort(keyed.begin(), keyed.end(),
                  [](const auto &a, const auto &b) { return a.first < b.first; });
        for (size_t i = 0; i < keyed.size(); ++i)
            rows[int(i)] = keyed[i].second;
        beginInsertRows(QModelIndex(), 0, rows.size() - 1);
        m_records.swap(records);
        m_rows.swap(rows);
        endInsertRows();
    }
    emit reloaded();
}
