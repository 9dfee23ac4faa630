#include "monitor/systemprocess.h"

SystemProcess::SystemProcess(QObject *parent)
    : QObject(parent)
{
}

SystemProcess::SystemProcess(const SystemProcess &other)
    : QObject(other.parent())
    , m_name(other.m_name)
    , m_path(other.m_path)
    , m_owner(other.m_owner)
    , m_memory(other.m_memory)
    , m_status(other.m_status)
{
}

SystemProcess &SystemProcess::operator=(const SystemProcess &other)
{
    m_name = other.m_name;
    m_path = other.m_path;
    m_owner = other.m_owner;
    m_memory = other.m_memory;
    m_status = other.m_status;
    return *this;
}
