#pragma once

#include <QObject>
#include <QString>

class QProcess;

// Tells whether a program, given by its executable image name, runs and
// responds. Synchronous: it is called on the GUI thread every few seconds.
class ProcessWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ProcessWatcher(QObject *parent = nullptr);
    ~ProcessWatcher() override;

    // true for an existing regular file (a symbolic link counts as its target)
    Q_INVOKABLE bool fileExists(const QString &name);
    // 0 when at least one process of that image name runs and none of them
    // is stopped, traced, a zombie or dead; 1 otherwise
    Q_INVOKABLE int check(const QString &name);

private:
#ifdef Q_OS_WIN
    bool runTool(const QStringList &arguments, QString *listing);
    QProcess *m_runner;
#endif
};
