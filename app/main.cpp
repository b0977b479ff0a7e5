// vitalon: monitor and test a serial ECG acquisition module.
#include <QApplication>
#include <QCommandLineParser>
#include <QSerialPortInfo>
#include <cstdio>
#include <memory>

#include "MainWindow.h"
#include "PortMessages.h"
#include "PulseProbe.h"
#ifdef Q_OS_UNIX
#include "SimulatedModule.h"
#include "TerminationSignals.h"
#endif

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
    // Our own version option: it also names the Qt library the program runs on.
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Displays version information."));
    parser.addOption(versionOption);
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Map port number n (1-8) to a serial device, e.g. COM3=/dev/ttyUSB0. "
                       "Repeatable; when given, unnamed numbers have no device."),
        QStringLiteral("COMn=DEVICE"));
    parser.addOption(portOption);
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"),
        QStringLiteral("Start with a simulated module on COM1 (through a pseudo-terminal); "
                       "other numbers have a device only if --port names one."));
    parser.addOption(simulateOption);
    QCommandLineOption exitOnPulseOption(
        QStringLiteral("exit-on-pulse"),
        QStringLiteral("Print the first pulse rate above 0 shown, then quit."));
    exitOnPulseOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(exitOnPulseOption);
    parser.process(app);
    if (parser.isSet(versionOption)) {
        std::printf("vitalon %s (Qt %s)\n", VITALON_VERSION, qVersion());
        return 0;
    }

    vitalon::PortAssignment ports;
    const QStringList portValues = parser.values(portOption);
    const bool simulate = parser.isSet(simulateOption);
#ifdef Q_OS_UNIX
    std::unique_ptr<vitalon::SimulatedModule> module;
    if (simulate) {
        try {
            module = std::make_unique<vitalon::SimulatedModule>(vitalon::sim::Scenario{});
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vitalon: %s\n", e.what());
            return 1;
        }
        ports[0] = vitalon::PortDevice{module->devicePath(), "simulated TR71010 module"};
    }
#else
    if (simulate) {
        std::fprintf(stderr,
                     "vitalon: --simulate needs pseudo-terminals, which this system lacks\n");
        return 1;
    }
#endif
    if (!simulate && portValues.isEmpty()) {
        ports = systemPorts();
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
#ifdef Q_OS_UNIX
    const vitalon::TerminationSignals terminationSignals([&window] { window.quit(); });
#endif
    std::unique_ptr<vitalon::PulseProbe> pulseProbe;
    if (parser.isSet(exitOnPulseOption)) {
        pulseProbe = std::make_unique<vitalon::PulseProbe>(window);
    }
    window.start();
    window.show();
    return QApplication::exec();
}
