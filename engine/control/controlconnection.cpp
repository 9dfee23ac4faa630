#include "control/controlconnection.h"

#include <QtGlobal>

void ControlConnection::setReadBufferSize(int size)
{
    m_readBufferSize = qMax(1, size);
    resume();
}

QByteArray ControlConnection::read(int maxSize)
{
    const QByteArray data = m_buffer.left(qMax(0, maxSize));
    m_buffer.remove(0, data.size());
    resume();
    return data;
}
