// The reference for the end-to-end benchmark: opens a serial device with
// QSerialPort at the program's line settings and reads and discards whatever
// comes, as cheaply as Qt allows. It ends on SIGTERM like any process.
#include <QCoreApplication>
#include <QSerialPort>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
        return 2;
    }
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite) || !port.setBaudRate(9600) ||
        !port.setParity(QSerialPort::NoParity) || !port.setDataBits(QSerialPort::Data8) ||
        !port.setStopBits(QSerialPort::OneStop)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(port.errorString()));
        return 1;
    }
    QObject::connect(&port, &QSerialPort::readyRead, [&port] { port.readAll(); });
    return QCoreApplication::exec();
}
