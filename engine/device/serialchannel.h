#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

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
class SerialChannel : public QObject
{
    Q_OBJECT
public:
    explicit SerialChannel(QObject *parent = nullptr);
    ~SerialChannel() override;

    // The ports a board may be on.
    QStringList channels();
    bool open(const QString &name);
    void close();
    bool isOpen() const;
    QString name() const;
    bool writeString(const QString &s);
    // The device is open and has not failed.
    bool isDeviceOpen() const;
    // Ports offered besides the boards enumeration finds by their vendor id,
    // as the setting "extraports" names them: separated by commas.
    void setExtraPorts(const QString &names);

signals:
    void dataReady(const QString &data);

private:
    void portReadyRead();
    static QString toText(const QByteArray &bytes);

    SerialDevice *m_device;
    QString m_name;
    bool m_opened = false;
    QStringList m_extraPorts;
};
