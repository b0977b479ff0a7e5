// vitalon-instrumented: the program as the benchmarks measure it. The same
// window and serial path as vitalon, with the benchmark recorder (RunStats)
// attached from outside; built only with the benchmarks.
//
//   vitalon-instrumented [--port COMn=DEVICE]... [--bench-report FILE [--bench-lag]]
#include <QApplication>
#include <QCommandLineParser>
#include <QSerialPortInfo>
#include <cstdio>

#include "MainWindow.h"
#include "PortMessages.h"
#include "RunStats.h"
#include "TerminationSignals.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vitalon"));

    QCommandLineParser parser;
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Map port number n (1-8) to a device."),
                                        QStringLiteral("COMn=DEVICE"));
    parser.addOption(portOption);
    vitalon::RunStats::addOptions(parser);
    parser.process(app);

    vitalon::PortAssignment ports;
    const QStringList portValues = parser.values(portOption);
    if (portValues.isEmpty()) {
        std::vector<vitalon::PortDevice> devices;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            devices.push_back(
                {info.systemLocation().toStdString(), info.description().toStdString()});
        }
        ports = vitalon::assignSystemPorts(std::move(devices));
    }
    try {
        for (const QString& value : portValues) {
            vitalon::assignPortOption(value.toStdString(), ports);
        }
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "vitalon: %s\n", e.what());
        return 2;
    }

    vitalon::MainWindow window(std::move(ports));
    const vitalon::TerminationSignals terminationSignals([&window] { window.quit(); });
    const auto stats = vitalon::RunStats::fromOptions(parser, window);
    window.start();
    window.show();
    return QApplication::exec();
}
