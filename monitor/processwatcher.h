#pragma once

#include <QObject>
#include <QString>

class QProcess;

// Tells whether a program, given by its executable image name, runs and
// responds. Synchronous: it is called on the GUI thread every few seconds.
//
// Outside Windows only some processes count, so that another local user can
// neither fail the check (with a stopped copy) nor pass it (with a copy or a
// process that took the name): by default those of this program's own user
// and of system accounts (root and uids below UID_MIN of /etc/login.defs,
// 1000 when it says nothing). Everyone else, "nobody" (65534) included, is an
// ordinary user. A process belongs to its real user id. With an owner set (a
// user name or a uid) only that owner's processes count; an owner that names
// no user makes every check fail. On Windows the owner filters the listing;
// without one every process counts.
class ProcessWatcher : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString owner READ owner WRITE setOwner NOTIFY ownerChanged)

public:
    explicit ProcessWatcher(QObject *parent = nullptr);
    ~ProcessWatcher() override;

    // true for an existing regular file (a symbolic link counts as its target)
    Q_INVOKABLE bool fileExists(const QString &name);
    // 0 when at least one process of that image name runs and none of them
    // is stopped, traced, a zombie or dead; 1 otherwise
    Q_INVOKABLE int check(const QString &name);

    QString owner() const;
    void setOwner(const QString &owner);

signals:
    void ownerChanged();

private:
    // With check(), the platform's half (platform/<system>/processwatcher.cpp):
    // prepares the owner for the checks; false while it names no user.
    bool resolveOwner();

    QString m_owner;
    // The owner as a user id, where processes are matched by id.
    bool m_ownerKnown = false;
    uint m_ownerUid = 0;
    // The listing tool, where the check runs one.
    QProcess *m_runner = nullptr;
};
