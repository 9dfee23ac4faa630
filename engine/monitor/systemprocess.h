#pragma once

#include <QObject>
#include <QString>

// One running process as the process list shows it. Copyable although it is
// a QObject: the list model keeps records by value.
class SystemProcess : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName)
    Q_PROPERTY(QString path READ path WRITE setPath)
    // The user the process runs as (its real user), by name where it has one;
    // empty where the system does not tell.
    Q_PROPERTY(QString owner READ owner WRITE setOwner)
    Q_PROPERTY(double memory READ memory WRITE setMemory)
    Q_PROPERTY(int status READ status WRITE setStatus)

public:
    enum Status {
        Running = 1,
        Waiting = 2,
        IO = 4,
        Stopped = 8,
        Debugged = 16,
        Dead = 32,
        Zombie = 64,
        Foreground = 128,
        HighPriority = 256,
        LowPriority = 512
    };
    Q_ENUM(Status)

    static constexpr int failedMask = Stopped | Dead | Zombie;

    explicit SystemProcess(QObject *parent = nullptr);
    SystemProcess(const SystemProcess &other);
    SystemProcess &operator=(const SystemProcess &other);

    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    QString path() const { return m_path; }
    void setPath(const QString &path) { m_path = path; }
    QString owner() const { return m_owner; }
    void setOwner(const QString &owner) { m_owner = owner; }
    double memory() const { return m_memory; }
    void setMemory(double memory) { m_memory = memory; }
    int status() const { return m_status; }
    void setStatus(int status) { m_status = status; }

    bool isFailed() const { return (m_status & failedMask) != 0; }

private:
    QString m_name;
    QString m_path;
    QString m_owner;
    double m_memory = -1.0;
    int m_status = 0;
};
