#include "device/channel.h"

Channel::Channel(QObject *parent)
    : QObject(parent)
{
}

Channel::~Channel() = default;

QStringList Channel::channels()
{
    return QStringList();
}

bool Channel::open(const QString &name)
{
    Q_UNUSED(name)
    return false;
}

void Channel::close() {}

bool Channel::isOpen()
{
    return false;
}

QString Channel::name()
{
    return QString();
}

QStringList Channel::params()
{
    return m_params;
}

QString Channel::param(const QString &name)
{
    Q_UNUSED(name)
    return QString();
}

bool Channel::paramSet(const QString &name, const QString &value)
{
    Q_UNUSED(name)
    Q_UNUSED(value)
    return false;
}

QString Channel::readString()
{
    return QString();
}

bool Channel::writeString(const QString &s)
{
    Q_UNUSED(s)
    return false;
}
