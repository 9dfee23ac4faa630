#include "device/serialchannel.h"

#include "device/serialdevice.h"

#include <QSerialPortInfo>

namespace
{
const quint16 boardVendorId = 0x0483;
} // namespace

SerialChannel::SerialChannel(QObject *parent)
    : QObject(parent)
    , m_device(new SerialDevice(this))
{
    connect(m_device, &SerialDevice::readyRead, this, &SerialChannel::portReadyRead);
}

SerialChannel::~SerialChannel() = default;

QStringList SerialChannel::channels()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (info.portName() == QLatin1String("COM1"))
            continue;
        if (info.hasVendorIdentifier() && info.vendorIdentifier() == boardVendorId)
            names << info.portName();
    }
    // Ports that enumeration cannot see (pseudo-terminals, unusual drivers).
    for (const QString &name : qAsConst(m_extraPorts)) {
        if (!names.contains(name))
            names << name;
    }
    const QString extra = QString::fromLocal8Bit(qgetenv("TOVEL3_EXTRA_PORTS"));
    const QStringList extraNames = extra.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : extraNames) {
        if (!names.contains(path))
            names << path;
    }
    return names;
}

void SerialChannel::setExtraPorts(const QString &names)
{
    m_extraPorts.clear();
    for (const QString &name : names.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString trimmed = name.trimmed();
        if (!trimmed.isEmpty())
            m_extraPorts << trimmed;
    }
}

bool SerialChannel::open(const QString &name)
{
    close();
    m_opened = m_device->open(name);
    m_name = m_opened ? name : QString();
    return m_opened;
}

void SerialChannel::close()
{
    if (isOpen()) {
        m_device->close();
        m_opened = false;
    }
}

bool SerialChannel::isOpen() const
{
    return m_opened;
}

bool SerialChannel::isDeviceOpen() const
{
    return m_opened && m_device->isOpen();
}

QString SerialChannel::name() const
{
    return m_name;
}

bool SerialChannel::writeString(const QString &s)
{
    return isOpen() && m_device->write(s.toLocal8Bit());
}

void SerialChannel::portReadyRead()
{
    if (!isOpen())
        return;
    const QByteArray bytes = m_device->readAll();
    if (!bytes.isEmpty())
        emit dataReady(toText(bytes));
}

QString SerialChannel::toText(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}
