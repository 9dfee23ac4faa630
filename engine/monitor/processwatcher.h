#pragma once

#include <QObject>
#include <QString>

class QProcess;

// Tells whether a program, given by its executable image name, runs and
// responds. Synchronous: it is called on the GUI thread every few seconds.
//
// Outside Windows only the processes of one owner count, so that nobody else
// can fail the check (with a stopped copy) or pass it (with a copy, or a
// process that took the name): the owner set (a user name or a uid), or else
// this program's own user. A process belongs to its real user id; an owner
// that names no user makes every check fail. A process is known by its
// executable's file name; where that cannot be read, only a zombie of the
// owner or a process of another owner is known by the name the kernel keeps
// for it. On Windows the system's listing tool decides, for every user.
class ProcessWatcher : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString owner READ owner WRITE setOwner NOTIFY ownerChanged)

public:
    explicit ProcessWatcher(QObject *parent = nullptr);
    ~ProcessWatcher() override;

    // 0 when at least one process of that image name runs and none of them
    // is stopped, traced, a zombie or dead; 1 otherwise
    Q_INVOKABLE int check(const QString &name);

    QString owner() const;
    void setOwner(const QString &owner);

signals:
    void ownerChanged();

private:
    // With check(), the platform's half (processwatcher_<system>.cpp):
    // prepares the owner for the checks; false while it names no user.
    bool resolveOwner();

    QString m_owner;
    // The owner as a user id, where processes are matched by id.
    bool m_ownerKnown = false;
    uint m_ownerUid = 0;
    // The listing tool, where the check runs one.
    QProcess *m_runner = nullptr;
};
