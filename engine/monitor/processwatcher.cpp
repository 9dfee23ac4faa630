#include "monitor/processwatcher.h"

#include <QFileInfo>
#include <QProcess>

ProcessWatcher::ProcessWatcher(QObject *parent)
    : QObject(parent)
{
}

ProcessWatcher::~ProcessWatcher()
{
    // A listing tool still running (where the check uses one) is ended.
    while (m_runner && m_runner->state() != QProcess::NotRunning) {
        m_runner->kill();
        m_runner->waitForFinished(2000);
    }
}

QString ProcessWatcher::owner() const
{
    return m_owner;
}

void ProcessWatcher::setOwner(const QString &owner)
{
    if (owner == m_owner)
        return;
    m_owner = owner;
    m_ownerKnown = false;
    resolveOwner();
    emit ownerChanged();
}
