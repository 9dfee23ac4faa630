// The least a headless watchdog needs: a QCoreApplication with a QSerialPort
// that writes a heartbeat every 3 s and reads the answer. bench_service
// measures tovel3d beside it.
//
//   servicebaseline PORT

#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite))
        return 1;
    QObject::connect(&port, &QSerialPort::readyRead, [&port] { port.readAll(); });
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&port] { port.write("~U"); });
    timer.start(3000);
    return app.exec();
}
