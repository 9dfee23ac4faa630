// The instance marker as a named shared memory segment; the server listens
// on a named pipe.
#include "integration/singleapphandler.h"
#include "logging.h"

#include <QSharedMemory>

QString SingleAppHandler::serverAddress()
{
    return serverName();
}

bool SingleAppHandler::claimMarker(QString *address)
{
    // Creating a named segment fails when it exists, in one step, so two
    // starts at the same moment need no lock around it. The system removes
    // the segment together with its last holder.
    delete m_sharedMemory;
    m_sharedMemory = new QSharedMemory(serverName());
    if (!m_sharedMemory->create(1, QSharedMemory::ReadWrite)) {
        if (m_sharedMemory->error() == QSharedMemory::AlreadyExists)
            return false;
        qCWarning(lcInstance, "Single instance marker unavailable: %s",
                  qPrintable(m_sharedMemory->errorString()));
    }
    *address = serverName();
    return true;
}
