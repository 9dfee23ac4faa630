#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

// One serial device, held open for as long as it is wanted: 9600 baud, 8 data
// bits, no parity, one stop bit, no flow control, raw bytes both ways, and
// ours alone while it is open (another open of the same device fails; on
// Linux this rests on a lock of the device itself and on its exclusive mode,
// never on a file others could create).
//
// A device that fails (unplugged, or its other end gone) is closed at once,
// so that nothing polls a dead descriptor, and stays closed until the next
// open(). The system's half is serialdevice_<system>.cpp.
class SerialDevice : public QObject
{
    Q_OBJECT
public:
    explicit SerialDevice(QObject *parent = nullptr);
    ~SerialDevice() override;

    // A name without a directory is one of the system's ports ("ttyACM0",
    // "COM7"); a path is opened as it is, also through a symbolic link.
    bool open(const QString &name);
    void close();
    // False once the device failed, also when that was not noticed yet.
    bool isOpen();
    // Everything received and not yet taken.
    QByteArray readAll();
    // True when every byte was handed to the device.
    bool write(const QByteArray &bytes);

signals:
    void readyRead();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
