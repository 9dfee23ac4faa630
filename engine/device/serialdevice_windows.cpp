#include "device/serialdevice.h"

#include <QSerialPort>

// Windows opens a COM port for one handle only, so QSerialPort's own open is
// exclusive without any lock file.

namespace
{
bool pinSet(QSerialPort *port, QSerialPort::PinoutSignal pin)
{
    return port->pinoutSignals().testFlag(pin);
}
} // namespace

struct SerialDevice::Private {
    QSerialPort *port = nullptr;
};

SerialDevice::SerialDevice(QObject *parent)
    : QObject(parent)
    , d(new Private)
{
    d->port = new QSerialPort(this);
    connect(d->port, &QSerialPort::readyRead, this, &SerialDevice::readyRead);
    connect(d->port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        // The device is gone: let go of it, or the port reports the same
        // error in a loop.
        if ((error == QSerialPort::ReadError || error == QSerialPort::ResourceError) &&
            d->port->isOpen())
            d->port->close();
    });
}

SerialDevice::~SerialDevice()
{
    if (d->port->isOpen())
        d->port->close();
}

bool SerialDevice::open(const QString &name)
{
    close();
    if (name.isEmpty())
        return false;
    d->port->setPortName(name);
    return d->port->open(QIODevice::ReadWrite);
}

void SerialDevice::close()
{
    if (d->port->isOpen())
        d->port->close();
}

bool SerialDevice::isOpen()
{
    return d->port->isOpen();
}

QByteArray SerialDevice::readAll()
{
    return d->port->isOpen() ? d->port->readAll() : QByteArray();
}

bool SerialDevice::write(const QByteArray &bytes)
{
    if (!d->port->isOpen())
        return false;
    d->port->write(bytes);
    return d->port->flush();
}

QString SerialDevice::param(const QString &key)
{
    QSerialPort *port = d->port;
    if (!port->isOpen())
        return QString();
    if (key == QLatin1String("baud"))
        return QString::number(port->baudRate());
    if (key == QLatin1String("bits"))
        return QString::number(int(port->dataBits()));
    if (key == QLatin1String("parity")) {
        switch (port->parity()) {
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
    if (key == QLatin1String("stops"))
        return QString::number(int(port->stopBits()));
    if (key == QLatin1String("rts"))
        return port->isRequestToSend() ? "1" : "0";
    if (key == QLatin1String("dtr"))
        return port->isDataTerminalReady() ? "1" : "0";
    if (key == QLatin1String("cts"))
        return pinSet(port, QSerialPort::ClearToSendSignal) ? "1" : "0";
    if (key == QLatin1String("dsr"))
        return pinSet(port, QSerialPort::DataSetReadySignal) ? "1" : "0";
    if (key == QLatin1String("dcd"))
        return pinSet(port, QSerialPort::DataCarrierDetectSignal) ? "1" : "0";
    if (key == QLatin1String("ri"))
        return pinSet(port, QSerialPort::RingIndicatorSignal) ? "1" : "0";
    return QString();
}

bool SerialDevice::setParam(const QString &key, const QString &value)
{
    QSerialPort *port = d->port;
    if (!port->isOpen())
        return false;
    const int number = value.toInt(); // unparsable text counts as 0
    if (key == QLatin1String("baud"))
        return port->setBaudRate(number, QSerialPort::AllDirections);
    if (key == QLatin1String("bits"))
        return number >= 5 && number <= 8 && port->setDataBits(QSerialPort::DataBits(number));
    if (key == QLatin1String("parity")) {
        const int kind = QByteArrayLiteral("neosm").indexOf(value.left(1).toLatin1());
        const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                QSerialPort::OddParity, QSerialPort::SpaceParity,
                                                QSerialPort::MarkParity};
        return !value.isEmpty() && kind >= 0 && port->setParity(parities[kind]);
    }
    if (key == QLatin1String("stops"))
        return (number == 1 || number == 2) && port->setStopBits(QSerialPort::StopBits(number));
    if (key == QLatin1String("rts"))
        return port->setRequestToSend(number != 0);
    if (key == QLatin1String("dtr"))
        return port->setDataTerminalReady(number != 0);
    return false;
}
