// vitalon: monitor and test a serial ECG acquisition module.
#include <QApplication>
#include <QCommandLineParser>
#include <QSerialPortInfo>
#include <cstdio>

#include "Form1.h"
#include "PortMessages.h"

namespace {

vitalon::PortAssignment systemPorts() {
    std::vector<vitalon::PortDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        devices.push_back({info.systemLocation().toStdString(), info.description().toStdString()});
    }
    return vitalon::assignSystemPorts(std::move(devices));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vitalon"));
    QApplication::setApplicationVersion(QStringLiteral(VITALON_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Monitor and test a TR71000/TR71010 ECG acquisition module on a serial port."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Map port number n (1-8) to a serial device, e.g. COM3=/dev/ttyUSB0. "
                       "Repeatable; when given, unnamed numbers have no device."),
        QStringLiteral("COMn=DEVICE"));
    parser.addOption(portOption);
    parser.process(app);

    vitalon::PortAssignment ports;
    const QStringList portValues = parser.values(portOption);
    if (portValues.isEmpty()) {
        ports = systemPorts();
    } else {
        try {
            for (const QString& value : portValues) {
                vitalon::assignPortOption(value.toStdString(), ports);
            }
        } catch (const std::invalid_argument& e) {
            std::fprintf(stderr, "vitalon: %s\n", e.what());
            return 2;
        }
    }

    vitalon::Form1 window(std::move(ports));
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
