#include "monitor/metricswriter.h"
#include "logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace
{
// Seconds since the epoch with the milliseconds, without a needless fraction.
QByteArray seconds(qint64 msecs)
{
    if (msecs <= 0)
        return "0";
    QByteArray text = QByteArray::number(msecs / 1000);
    if (const int rest = int(msecs % 1000))
        text += '.' + QByteArray::number(rest).rightJustified(3, '0');
    return text;
}

QByteArray tenths(int value)
{
    const QByteArray sign = value < 0 ? "-" : "";
    const int magnitude = value < 0 ? -value : value;
    return sign + QByteArray::number(magnitude / 10) + '.' + QByteArray::number(magnitude % 10);
}

class Exposition
{
public:
    void family(const char *name, const char *type, const char *help)
    {
        m_text +=
            QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char *name, const QByteArray &value, const QByteArray &labels = QByteArray())
    {
        m_text += name;
        if (!labels.isEmpty())
            m_text += '{' + labels + '}';
        m_text += ' ' + value + '\n';
    }
    QByteArray text() const { return m_text; }

private:
    QByteArray m_text;
};

QByteArray label(const char *name, const QString &value)
{
    return QByteArray(name) + "=\"" + MetricsWriter::escapeLabelValue(value) + '"';
}

QByteArray flag(bool on)
{
    return on ? "1" : "0";
}
} // namespace

// What the caller and the writer thread share, under the mutex.
struct MetricsWriter::Shared {
    struct Job {
        QString directory;
        QString path;
        QString temporary;
        QByteArray content;
        int generation = 0;
    };

    void run();

    std::mutex mutex;
    std::condition_variable wake; // a job or the stop
    std::condition_variable idle; // a job finished
    std::optional<Job> job;
    bool busy = false;
    bool stop = false;
    // The outcome of the last finished job: its directory's generation, how
    // many jobs finished so far, and the error (empty on success).
    int doneGeneration = -1;
    quint64 doneCount = 0;
    QString doneError;
};

void MetricsWriter::Shared::run()
{
    QSet<QString> cleaned;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stop || job; });
        if (stop)
            return;
        const Job next = std::move(*job);
        job.reset();
        busy = true;
        lock.unlock();
        if (!cleaned.contains(next.directory)) {
            removeStaleTemporaryFiles(next.directory);
            cleaned.insert(next.directory);
        }
        const QString error = writeFile(next.path, next.temporary, next.content);
        lock.lock();
        busy = false;
        doneGeneration = next.generation;
        doneError = error;
        ++doneCount;
        idle.notify_all();
    }
}

bool MetricsSnapshot::operator==(const MetricsSnapshot &other) const
{
    return heartbeatsSent == other.heartbeatsSent && acksReceived == other.acksReceived &&
           lastHeartbeatMsecs == other.lastHeartbeatMsecs && lastAckMsecs == other.lastAckMsecs &&
           network == other.network && process == other.process && model == other.model &&
           firmware == other.firmware && port == other.port && suspended == other.suspended &&
           connected == other.connected && temperatureTenths == other.temperatureTenths &&
           startMsecs == other.startMsecs;
}

MetricsWriter::MetricsWriter(const QString &directory)
    : m_shared(std::make_shared<Shared>())
{
    setDirectory(directory);
}

MetricsWriter::~MetricsWriter()
{
    if (!m_thread.joinable())
        return;
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    m_shared->job.reset();
    m_shared->stop = true;
    m_shared->wake.notify_all();
    // A write stuck on the disk keeps its thread (and the shared state)
    // alive on its own rather than holding up the program's end.
    const bool idle =
        m_shared->idle.wait_for(lock, std::chrono::seconds(1), [this] { return !m_shared->busy; });
    lock.unlock();
    if (idle)
        m_thread.join();
    else
        m_thread.detach();
}

void MetricsWriter::setDirectory(const QString &directory)
{
    if (directory == m_directory)
        return;
    m_directory = directory;
    ++m_generation;
    m_hasWritten = false;
    m_warned = false;
    m_error.clear();
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->job.reset();
}

QString MetricsWriter::filePath() const
{
    return m_directory.isEmpty() ? QString() : QDir(m_directory).filePath(FileName);
}

QString MetricsWriter::temporaryFilePath() const
{
    // Not "*.prom", so the node exporter never reads it.
    return m_directory.isEmpty()
               ? QString()
               : filePath() + QStringLiteral(".%1.tmp").arg(QCoreApplication::applicationPid());
}

MetricsWriter::Result MetricsWriter::update(const MetricsSnapshot &snapshot, qint64 nowMsecs)
{
    if (m_directory.isEmpty())
        return Off;
    const bool failed = collectOutcome();
    const bool due = !m_hasWritten || snapshot != m_written || nowMsecs < m_writtenAt ||
                     nowMsecs - m_writtenAt >= RefreshMsecs;
    if (due) {
        Shared::Job job{m_directory, filePath(), temporaryFilePath(), render(snapshot),
                        m_generation};
        {
            std::lock_guard<std::mutex> lock(m_shared->mutex);
            m_shared->job = std::move(job);
        }
        m_shared->wake.notify_one();
        if (!m_thread.joinable())
            m_thread = std::thread(&Shared::run, m_shared);
        m_written = snapshot;
        m_writtenAt = nowMsecs;
        m_hasWritten = true;
    }
    return failed ? Failed : due ? Written : Unchanged;
}

bool MetricsWriter::removeFile()
{
    if (m_directory.isEmpty())
        return true;
    {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        m_shared->job.reset();
        // A file renamed into place after the removal would say we still run.
        if (!m_shared->idle.wait_for(lock, std::chrono::seconds(1),
                                     [this] { return !m_shared->busy; }))
            return false;
    }
    m_hasWritten = false;
    QFile::remove(filePath());
    return !QFileInfo::exists(filePath());
}

bool MetricsWriter::waitForWritten(int timeoutMsecs)
{
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    const bool idle = m_shared->idle.wait_for(lock, std::chrono::milliseconds(timeoutMsecs),
                                              [this] { return !m_shared->job && !m_shared->busy; });
    lock.unlock();
    return !collectOutcome() && idle;
}

bool MetricsWriter::collectOutcome()
{
    QString error;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        if (m_shared->doneGeneration != m_generation || m_shared->doneCount == m_seenCount)
            return !m_error.isEmpty();
        m_seenCount = m_shared->doneCount;
        error = m_shared->doneError;
    }
    m_error = error;
    if (error.isEmpty()) {
        m_warned = false;
        return false;
    }
    m_hasWritten = false; // the next update tries again
    if (!m_warned)
        qCWarning(lcMetrics, "Cannot write the metrics: %s", qPrintable(error));
    m_warned = true;
    return true;
}

QByteArray MetricsWriter::escapeLabelValue(const QString &value)
{
    QString text = value;
    if (text.size() > MaxLabelLength) {
        int keep = MaxLabelLength - 1;
        if (text.at(keep - 1).isHighSurrogate())
            --keep;
        text = text.left(keep) + QChar(0x2026);
    }
    const QByteArray utf8 = text.toUtf8();
    QByteArray escaped;
    escaped.reserve(utf8.size() + 8);
    for (const char c : utf8) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '"':
            escaped += "\\\"";
            break;
        case '\n':
            escaped += "\\n";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QByteArray MetricsWriter::render(const MetricsSnapshot &s)
{
    Exposition out;
    out.family("tovel3_heartbeats_sent_total", "counter",
               "Heartbeats sent to the watchdog board since the program started.");
    out.sample("tovel3_heartbeats_sent_total", QByteArray::number(s.heartbeatsSent));
    out.family("tovel3_acks_received_total", "counter",
               "Acknowledgements received from the watchdog board since the program started.");
    out.sample("tovel3_acks_received_total", QByteArray::number(s.acksReceived));
    out.family("tovel3_last_heartbeat_timestamp_seconds", "gauge",
               "When the last heartbeat was sent, in seconds since the epoch (0: none yet).");
    out.sample("tovel3_last_heartbeat_timestamp_seconds", seconds(s.lastHeartbeatMsecs));
    out.family("tovel3_last_ack_timestamp_seconds", "gauge",
               "When the board last acknowledged, in seconds since the epoch (0: not yet).");
    out.sample("tovel3_last_ack_timestamp_seconds", seconds(s.lastAckMsecs));
    if (s.network.enabled || s.process.enabled) {
        out.family("tovel3_check_up", "gauge",
                   "Whether a check that gates the heartbeat passes (1) or fails (0); "
                   "absent while the check is off.");
        const std::pair<const char *, const MetricsSnapshot::Check *> checks[] = {
            {"network", &s.network}, {"process", &s.process}};
        for (const auto &check : checks) {
            if (check.second->enabled)
                out.sample("tovel3_check_up", flag(check.second->ok),
                           label("check", check.first) + ',' +
                               label("target", check.second->target));
        }
    }
    out.family("tovel3_board_info", "gauge",
               "The watchdog board in use: model and firmware as identified (empty while "
               "unknown) and its port.");
    out.sample("tovel3_board_info", "1",
               label("model", s.model) + ',' + label("firmware", s.firmware) + ',' +
                   label("port", s.port));
    out.family("tovel3_board_suspended", "gauge",
               "Whether the board's watchdog is suspended (1), as for maintenance.");
    out.sample("tovel3_board_suspended", flag(s.suspended));
    out.family("tovel3_board_connected", "gauge",
               "Whether the board's port is open and the board identified (1).");
    out.sample("tovel3_board_connected", flag(s.connected));
    if (s.temperatureTenths) {
        out.family("tovel3_board_temperature_celsius", "gauge",
                   "The temperature the board reports, in degrees Celsius.");
        out.sample("tovel3_board_temperature_celsius", tenths(*s.temperatureTenths));
    }
    out.family("tovel3_start_time_seconds", "gauge",
               "When the program started, in seconds since the epoch.");
    out.sample("tovel3_start_time_seconds", seconds(s.startMsecs));
    return out.text();
}
