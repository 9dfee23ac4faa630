#include "qlchannel.h"

QlChannel::QlChannel(QObject *parent)
    : QObject(parent)
{
}

QlChannel::~QlChannel() = default;

QStringList QlChannel::channels()
{
    return QStringList();
}

bool QlChannel::open(const QString &name)
{
    Q_UNUSED(name)
    return false;
}

void QlChannel::close() {}

bool QlChannel::isOpen()
{
    return false;
}

QString QlChannel::name()
{
    return QString();
}

QStringList QlChannel::params()
{
    return m_params;
}

QString QlChannel::param(const QString &name)
{
    Q_UNUSED(name)
    return QString();
}

bool QlChannel::paramSet(const QString &name, const QString &value)
{
    Q_UNUSED(name)
    Q_UNUSED(value)
    return false;
}

QString QlChannel::readString()
{
    return QString();
}

bool QlChannel::writeString(const QString &s)
{
    Q_UNUSED(s)
    return false;
}
