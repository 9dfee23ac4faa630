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
    Q_PROPERTY(QString file READ getLogFile WRITE setLogFile NOTIFY fileChanged)
    Q_PROPERTY(bool pause READ isPaused WRITE setPaused NOTIFY paused)
    Q_PROPERTY(quint64 size READ getMaxSize WRITE setMaxSize)
    Q_PROPERTY(bool time READ getWriteTimeStamp WRITE setWriteTimeStamp)
    Q_PROPERTY(quint32 backups READ getBackupCount WRITE setBackupCount)

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
    void pause();
    void resume();

public:
    Q_INVOKABLE void setup(const QString &logdir, const QString &fileName);
    Q_INVOKABLE QString getLogFile() const;
    Q_INVOKABLE void setLogFile(const QString &file);
    Q_INVOKABLE bool isPaused() const;
    Q_INVOKABLE void setPaused(bool on);
    Q_INVOKABLE quint64 getMaxSize() const;
    Q_INVOKABLE void setMaxSizeMB(quint64 mb);
    Q_INVOKABLE void setMaxSize(quint64 ms);
    Q_INVOKABLE bool getWriteTimeStamp() const;
    Q_INVOKABLE void setWriteTimeStamp(bool on);
    Q_INVOKABLE quint32 getBackupCount() const;
    Q_INVOKABLE void setBackupCount(quint32 cnt);

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
