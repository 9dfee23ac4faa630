#include "device/serialdevice.h"

#include <QSerialPort>

// Windows opens a COM port for one handle only, so QSerialPort's own open is
// exclusive without any lock file.

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
