#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <thread>

// The values published for monitoring, copied from the engine once per cycle.
// Times are milliseconds since the epoch; 0 means "not yet".
struct MetricsSnapshot {
    struct Check {
        bool enabled = false;
        QString target; // the address pinged or the process name watched
        bool ok = false;

        bool operator==(const Check &other) const
        {
            return enabled == other.enabled && target == other.target && ok == other.ok;
        }
    };

    quint64 heartbeatsSent = 0;
    quint64 acksReceived = 0;
    qint64 lastHeartbeatMsecs = 0;
    qint64 lastAckMsecs = 0;
    Check network;
    Check process;
    QString model; // as users see it ("Ostrel X2"), empty when not identified
    QString firmware;
    QString port;
    bool suspended = false;
    bool connected = false;
    std::optional<int> temperatureTenths; // only when the board reports one
    qint64 startMsecs = 0;

    bool operator==(const MetricsSnapshot &other) const;
    bool operator!=(const MetricsSnapshot &other) const { return !(*this == other); }
};

// Publishes snapshots as "tovel3.prom" in the node exporter's textfile
// format. The file is replaced whole (written beside it, synced, renamed), so
// a reader never sees half of it, and only when a value changed or once a
// minute, so its age tells whether the program is still alive.
//
// The file system work runs on a thread of its own: the caller (the heartbeat
// cycle) only compares and renders, and a slow or stuck disk delays the file,
// never the heartbeat. A file still waiting to be written is replaced by a
// newer one. Nothing throws; a failure is warned about once until a write
// succeeds again.
class MetricsWriter
{
public:
    enum Result {
        Off,       // no directory set
        Unchanged, // nothing to write yet
        Written,   // handed to the writer thread
        Failed,    // the last write failed (and is tried again)
    };

    static constexpr qint64 RefreshMsecs = 60000;
    // Longer label values are cut to this many characters and end in "…".
    static constexpr int MaxLabelLength = 256;

    explicit MetricsWriter(const QString &directory = QString());
    // Drops a file not yet begun and leaves a write in progress to finish.
    ~MetricsWriter();
    MetricsWriter(const MetricsWriter &) = delete;
    MetricsWriter &operator=(const MetricsWriter &) = delete;

    // An empty directory turns the metrics off. A new directory is written
    // to at the next update whatever the values.
    void setDirectory(const QString &directory);
    QString directory() const { return m_directory; }
    QString filePath() const;
    // Where the next file is prepared before it takes the place of filePath().
    QString temporaryFilePath() const;

    // Hands over at most one file per call: when the values differ from the
    // last ones handed over, when RefreshMsecs passed since, or when the
    // clock went back. After a failed write the next call tries again.
    Result update(const MetricsSnapshot &snapshot, qint64 nowMsecs);
    // At a clean end: drops a file not yet begun, waits (a second at most)
    // for one being written, and removes the file, so that nothing keeps
    // reporting a program that is gone. True when no file is left.
    bool removeFile();
    // Waits until the writer thread has nothing left to do; true when the
    // last file handed over is in place.
    bool waitForWritten(int timeoutMsecs = 5000);
    // Why the last write failed; empty after a successful one.
    QString errorString() const { return m_error; }

    static QByteArray render(const MetricsSnapshot &snapshot);
    // A label value as the exposition format wants it between its quotes.
    static QByteArray escapeLabelValue(const QString &value);

private:
    struct Shared;

    static constexpr char FileName[] = "tovel3.prom";

    // The system's half (metricswriter_<system>.cpp), run on the writer
    // thread. Puts `content` in the place of the file at `path` whole, by
    // way of `temporary` where the system needs it; the error, empty on
    // success.
    static QString writeFile(const QString &path, const QString &temporary,
                             const QByteArray &content);
    // Removes the temporary files that writers killed mid-write left in the
    // directory.
    static void removeStaleTemporaryFiles(const QString &directory);

    // Takes in what the writer thread reports; true when its last write failed.
    bool collectOutcome();

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    quint64 m_seenCount = 0;
    QString m_directory;
    int m_generation = 0;
    MetricsSnapshot m_written;
    qint64 m_writtenAt = 0;
    bool m_hasWritten = false;
    bool m_warned = false;
    QString m_error;
};
