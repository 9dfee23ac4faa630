// The control socket on Windows: a named pipe of the user's alone, through
// QLocalServer.
#include "control/controlserver.h"

#include "control/controlconnection.h"

#include <QLocalServer>
#include <QLocalSocket>

// Keeps the pipes' handles as they come, rather than sockets made for them:
// each becomes a ControlConnection.
struct ControlServer::Listener : QLocalServer {
    using QLocalServer::QLocalServer;
    QList<quintptr> accepted;

protected:
    void incomingConnection(quintptr handle) override
    {
        accepted.append(handle);
        emit newConnection();
    }
};

bool ControlServer::listen(const QString &path, Access access, const QString &group)
{
    close();
    m_error.clear();
    // Windows has no group for the pipe here: the user's own in any case.
    Q_UNUSED(access)
    Q_UNUSED(group)
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(500)) {
        m_error = QStringLiteral("another instance listens on %1").arg(path);
        return false;
    }
    if (!m_listener) {
        m_listener = new Listener(this);
        m_listener->setMaxPendingConnections(MaxConnections);
        connect(m_listener, &QLocalServer::newConnection, this, &ControlServer::acceptConnections);
    }
    m_listener->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_listener->listen(path)) {
        m_error = QStringLiteral("cannot listen on %1: %2").arg(path, m_listener->errorString());
        return false;
    }
    m_path = path;
    return true;
}

void ControlServer::acceptConnections()
{
    while (!m_listener->accepted.isEmpty())
        addClient(new ControlConnection(qintptr(m_listener->accepted.takeFirst()), this));
}

void ControlServer::closeListener()
{
    if (m_listener)
        m_listener->close();
}
