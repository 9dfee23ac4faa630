#pragma once

#include "device/channel.h"

class SerialDevice;

// The text channel over one serial port. The device object lives as long as
// the channel and is re-targeted by name on every open(); the port stays open
// until close() or the next open(). Received bytes are Latin-1 text cut at
// the first NUL; sent text uses the local 8-bit encoding.
//
// isOpen() is the channel's own flag: it stays true from a successful open()
// until close(), even when the device vanishes meanwhile. The device itself is
// released at once when it fails (see SerialDevice); writes then fail until
// the next successful open(), and isDeviceOpen() tells.
class SerialChannel : public Channel
{
    Q_OBJECT
public:
    explicit SerialChannel(QObject *parent = nullptr);
    ~SerialChannel() override;

signals:
    void dataReady(const QString &data);

protected slots:
    void portReadyRead();

public slots:
    QStringList channels() override;
    bool open(const QString &name) override;
    void close() override;
    bool isOpen() override;
    QString name() override;
    QString param(const QString &name) override;
    bool paramSet(const QString &name, const QString &value) override;
    QString readString() override;
    bool writeString(const QString &s) override;

public:
    // The device is open and has not failed.
    bool isDeviceOpen() const;

private:
    static QString toText(const QByteArray &bytes);

    SerialDevice *m_device;
    bool m_opened = false;
};
