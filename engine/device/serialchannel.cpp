#include "device/serialchannel.h"

#include "device/serialdevice.h"

#include <QSerialPortInfo>

namespace
{
const quint16 boardVendorId = 0x0483;
} // namespace

SerialChannel::SerialChannel(QObject *parent)
    : Channel(parent)
    , m_device(new SerialDevice(this))
{
    connect(m_device, &SerialDevice::readyRead, this, &SerialChannel::portReadyRead);
    m_params << "baud"
             << "bauds"
             << "bits"
             << "parity"
             << "stops"
             << "rts"
             << "cts"
             << "dtr"
             << "dsr"
             << "dcd"
             << "ri";
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
    const QString extra = QString::fromLocal8Bit(qgetenv("TOVEL3_EXTRA_PORTS"));
    const QStringList extraNames = extra.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : extraNames) {
        if (!names.contains(path))
            names << path;
    }
    return names;
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

bool SerialChannel::isOpen()
{
    return m_opened;
}

bool SerialChannel::isDeviceOpen() const
{
    return m_opened && m_device->isOpen();
}

QString SerialChannel::name()
{
    return m_name;
}

QString SerialChannel::param(const QString &name)
{
    return isOpen() ? m_device->param(name) : QString();
}

bool SerialChannel::paramSet(const QString &name, const QString &value)
{
    return isOpen() && m_device->setParam(name, value);
}

QString SerialChannel::readString()
{
    if (!isOpen())
        return QString();
    const QString text = toText(m_device->readAll());
    return text.isNull() ? QStringLiteral("") : text;
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
