// vitalon-instrumented: the program as the benchmarks measure it. The same
// window, station and port numbering as vitalon, with the benchmark recorder
// (RunStats) attached from outside; built only with the benchmarks.
//
//   vitalon-instrumented [--port COMn=DEVICE]... [--bench-report FILE [--bench-lag]]
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <string>
#include <vector>

#include "MainWindow.h"
#include "PortChoice.h"
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

    std::vector<std::string> portOptions;
    for (const QString& value : parser.values(portOption)) {
        portOptions.push_back(value.toStdString());
    }
    vitalon::PortAssignment ports;
    try {
        ports = vitalon::choosePorts(portOptions);
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
