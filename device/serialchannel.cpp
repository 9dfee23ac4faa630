#include "serialchannel.h"

#include <QSerialPortInfo>

namespace
{
const quint16 boardVendorId = 0x0483;

bool pinSet(QSerialPort *port, QSerialPort::PinoutSignal pin)
{
    if (!port->isOpen())
        return false;
    return port->pinoutSignals().testFlag(pin);
}
} // namespace

SerialChannel::SerialChannel(QObject *parent)
    : Channel(parent)
    , m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, &SerialChannel::portReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialChannel::portError);
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

SerialChannel::~SerialChannel()
{
    if (m_port->isOpen())
        m_port->close();
    delete m_port;
}

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
    m_port->setPortName(name);
    m_opened = m_port->open(QIODevice::ReadWrite);
    m_name = m_opened ? name : QString();
    return m_opened;
}

void SerialChannel::close()
{
    if (isOpen()) {
        if (m_port->isOpen())
            m_port->close();
        m_opened = false;
    }
}

bool SerialChannel::isOpen()
{
    return m_opened;
}

QString SerialChannel::name()
{
    return m_name;
}

QString SerialChannel::param(const QString &name)
{
    if (!isOpen())
        return QString();
    if (name == QLatin1String("baud"))
        return QString::number(m_port->baudRate());
    if (name == QLatin1String("bits"))
        return QString::number(int(m_port->dataBits()));
    if (name == QLatin1String("parity")) {
        switch (m_port->parity()) {
        case QSerialPort::NoParity:
            return QStringLiteral("n");
        case QSerialPort::EvenParity:
            return QStringLiteral("e");
        case QSerialPort::OddParity:
            return QStringLiteral("o");
        case QSerialPort::SpaceParity:
            return QStringLiteral("s");
        case QSerialPort::MarkParity:
            return QStringLiteral("m");
        default:
            return QStringLiteral("u");
        }
    }
    if (name == QLatin1String("stops"))
        return QString::number(int(m_port->stopBits()));
    if (name == QLatin1String("rts"))
        return m_port->isOpen() && m_port->isRequestToSend() ? "1" : "0";
    if (name == QLatin1String("dtr"))
        return m_port->isOpen() && m_port->isDataTerminalReady() ? "1" : "0";
    if (name == QLatin1String("cts"))
        return pinSet(m_port, QSerialPort::ClearToSendSignal) ? "1" : "0";
    if (name == QLatin1String("dsr"))
        return pinSet(m_port, QSerialPort::DataSetReadySignal) ? "1" : "0";
    if (name == QLatin1String("dcd"))
        return pinSet(m_port, QSerialPort::DataCarrierDetectSignal) ? "1" : "0";
    if (name == QLatin1String("ri"))
        return pinSet(m_port, QSerialPort::RingIndicatorSignal) ? "1" : "0";
    return QString();
}

bool SerialChannel::paramSet(const QString &name, const QString &value)
{
    if (!isOpen())
        return false;
    const int number = value.toInt(); // unparsable text counts as 0
    if (name == QLatin1String("baud"))
        return m_port->setBaudRate(number, QSerialPort::AllDirections);
    if (name == QLatin1String("bits"))
        return m_port->setDataBits(QSerialPort::DataBits(number));
    if (name == QLatin1String("parity")) {
        QSerialPort::Parity parity = QSerialPort::Parity(-1);
        if (value.startsWith(QLatin1Char('n')))
            parity = QSerialPort::NoParity;
        else if (value.startsWith(QLatin1Char('e')))
            parity = QSerialPort::EvenParity;
        else if (value.startsWith(QLatin1Char('o')))
            parity = QSerialPort::OddParity;
        else if (value.startsWith(QLatin1Char('s')))
            parity = QSerialPort::SpaceParity;
        else if (value.startsWith(QLatin1Char('m')))
            parity = QSerialPort::MarkParity;
        return m_port->setParity(parity);
    }
    if (name == QLatin1String("stops"))
        return m_port->setStopBits(QSerialPort::StopBits(number));
    if (name == QLatin1String("rts"))
        return m_port->isOpen() && m_port->setRequestToSend(number != 0);
    if (name == QLatin1String("dtr"))
        return m_port->isOpen() && m_port->setDataTerminalReady(number != 0);
    return false;
}

QString SerialChannel::readString()
{
    if (!isOpen())
        return QString();
    if (!m_port->isOpen())
        return QString(QLatin1String(""));
    return toText(m_port->readAll());
}

bool SerialChannel::writeString(const QString &s)
{
    if (!isOpen() || !m_port->isOpen())
        return false;
    m_port->write(s.toLocal8Bit());
    return m_port->flush();
}

void SerialChannel::portReadyRead()
{
    if (!isOpen())
        return;
    emit dataReady(toText(m_port->readAll()));
}

void SerialChannel::portError(QSerialPort::SerialPortError error)
{
    // The device is gone: let go of it so that the port stops reporting the
    // same error in a loop. The channel stays "open" until close().
    if ((error == QSerialPort::ReadError || error == QSerialPort::ResourceError) &&
        m_port->isOpen())
        m_port->close();
}

QString SerialChannel::toText(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}
