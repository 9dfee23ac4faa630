#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

// The user's event log: one line per entry, appended to a text file that is
// rotated by size into numbered old copies (file.0 newest). Safe to use from
// several threads (the engine's and the window's). Entries can also be echoed
// to standard error with a syslog priority, which journald reads as such.
class Journal : public QObject
{
    Q_OBJECT
    // The pages show where the journal is; the rest is the programs' to set.
    Q_PROPERTY(QString file READ getLogFile WRITE setLogFile NOTIFY fileChanged)

public:
    static constexpr quint64 MinSize = 131072;
    static constexpr quint64 MaxSize = 2147483648ULL;
    static constexpr quint32 MaxBackups = 128;

    explicit Journal(QObject *parent = nullptr, const QString &file = QString());

signals:
    void fileChanged(const QString &file);
    void paused(bool on);

public:
    enum Priority { Warning = 4, Info = 6 };
    // Also writes every entry, paused or not, as "<priority>text" to
    // standard error (for a service whose output journald collects).
    void setEcho(bool on);

public slots:
    void log(const QString &data);
    // An entry about something going wrong (a check failing, no board).
    void warn(const QString &data);

public:
    void setup(const QString &logdir, const QString &fileName);
    QString getLogFile() const;
    void setLogFile(const QString &file);
    bool isPaused() const;
    void setPaused(bool on);
    quint64 getMaxSize() const;
    void setMaxSizeMB(quint64 mb);
    void setMaxSize(quint64 ms);
    bool getWriteTimeStamp() const;
    void setWriteTimeStamp(bool on);
    quint32 getBackupCount() const;
    void setBackupCount(quint32 cnt);

private:
    void write(const QString &data, Priority priority);
    bool checkRotation();
    static QString resolveLogDir(const QString &logdir);

    QString m_file;
    bool m_pause = false;
    quint64 m_size = 67108864;
    bool m_time = true;
    quint32 m_backups = 3;
    bool m_refusedIrregular = false;
    bool m_echo = false;
    mutable QRecursiveMutex m_mutex;
};
