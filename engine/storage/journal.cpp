#include "storage/journal.h"
#include "logging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

#include <cstdio>

namespace
{
quint64 clampSize(quint64 bytes)
{
    return qBound(Journal::MinSize, bytes, Journal::MaxSize);
}

QString indexed(const QString &file, qint64 index)
{
    return file + QLatin1Char('.') + QString::number(index);
}
} // namespace

Journal::Journal(QObject *parent, const QString &file)
    : QObject(parent)
    , m_file(file)
{
}

void Journal::log(const QString &data)
{
    write(data, Info);
}

void Journal::warn(const QString &data)
{
    write(data, Warning);
}

void Journal::setEcho(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_echo = on;
}

void Journal::write(const QString &data, Priority priority)
{
    QMutexLocker lock(&m_mutex);
    if (m_echo) {
        const QByteArray line =
            '<' + QByteArray::number(int(priority)) + '>' + data.toUtf8().replace('\n', ' ') + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    }
    if (m_pause)
        return;
    // Only a regular file: opening a FIFO for writing waits for a reader,
    // and a device is no journal. Said once until a regular file is back.
    const QFileInfo target(m_file);
    if (target.exists() && !target.isFile()) {
        if (!m_refusedIrregular)
            qCWarning(lcJournal, "Journal %s is not a regular file: nothing is logged into it",
                      qPrintable(m_file));
        m_refusedIrregular = true;
        return;
    }
    m_refusedIrregular = false;
    // A rotation that fails (a rename refused, an old copy that cannot be
    // removed) must not cost the entry: it then goes to the current file,
    // which grows beyond the limit until a later rotation succeeds.
    if (!checkRotation() && !QFileInfo(m_file).isFile())
        return;

    QFile out(m_file);
    if (!out.open(QIODevice::ReadWrite | QIODevice::Append))
        return;
    QByteArray line;
    // An entry cut short (a full disk, a crash) is finished first, so that
    // this one starts on a line of its own.
    char last = '\n';
    if (out.size() > 0 && out.seek(out.size() - 1) && out.getChar(&last) && last != '\n')
        line = last == '\r' ? "\n" : "\r\n";
    if (m_time)
        line += QLocale::system()
                    .toString(QDateTime::currentDateTime(),
                              QStringLiteral("ddd MMM d hh:mm:ss t yyyy "))
                    .toUtf8();
    line += data.toUtf8();
    line += "\r\n";
    out.write(line);
    out.flush();
    out.close();
}

void Journal::setup(const QString &logdir, const QString &fileName)
{
    QMutexLocker lock(&m_mutex);
    const QString dir = resolveLogDir(logdir);
    m_file = dir + QLatin1Char('/') + fileName;
    emit fileChanged(m_file);
}

QString Journal::getLogFile() const
{
    QMutexLocker lock(&m_mutex);
    return m_file;
}

void Journal::setLogFile(const QString &file)
{
    QMutexLocker lock(&m_mutex);
    m_file = file;
    emit fileChanged(m_file);
}

bool Journal::isPaused() const
{
    QMutexLocker lock(&m_mutex);
    return m_pause;
}

void Journal::setPaused(bool on)
{
    QMutexLocker lock(&m_mutex);
    if (m_pause == on)
        return;
    m_pause = on;
    emit paused(on);
}

quint64 Journal::getMaxSize() const
{
    QMutexLocker lock(&m_mutex);
    return m_size;
}

void Journal::setMaxSizeMB(quint64 mb)
{
    // Saturate before multiplying so that huge arguments cannot wrap around.
    const quint64 mib = 1048576;
    setMaxSize(mb >= MaxSize / mib ? MaxSize : mb * mib);
}

void Journal::setMaxSize(quint64 ms)
{
    QMutexLocker lock(&m_mutex);
    m_size = clampSize(ms);
    checkRotation();
}

bool Journal::getWriteTimeStamp() const
{
    QMutexLocker lock(&m_mutex);
    return m_time;
}

void Journal::setWriteTimeStamp(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_time = on;
}

quint32 Journal::getBackupCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_backups;
}

void Journal::setBackupCount(quint32 cnt)
{
    QMutexLocker lock(&m_mutex);
    m_backups = qMin(cnt, MaxBackups);
    checkRotation();
}

bool Journal::checkRotation()
{
    if (m_file.isEmpty())
        return false;
    const QFileInfo info(m_file);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    if (!info.exists())
        return true;
    if (quint64(info.size()) < m_size)
        return true;
    if (m_backups == 0)
        return QFile::remove(m_file);

    const qint64 keep = m_backups;
    qint64 n = 0;
    while (QFile::exists(indexed(m_file, n)))
        ++n;
    qint64 k = n;
    if (n >= keep - 1) {
        for (qint64 i = n; i >= keep - 1; --i)
            QFile::remove(indexed(m_file, i));
        k = keep - 2;
    }
    for (; k >= 0; --k)
        QFile::rename(indexed(m_file, k), indexed(m_file, k + 1));
    return QFile::rename(m_file, indexed(m_file, 0));
}

QString Journal::resolveLogDir(const QString &logdir)
{
    QString dir;
    if (!logdir.isEmpty() && QDir().mkpath(logdir))
        dir = logdir;
    else
        dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dir);
    return dir;
}
