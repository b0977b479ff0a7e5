#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <string>

#include "ModuleModel.h"
#include "ModuleServer.h"

class QSocketNotifier;

namespace vitalon {

// The module model served on a pseudo-terminal inside the program, so that the
// real serial path (device, QSerialPort, link, decoder) carries its bytes. The
// module server does the serving, under the same rules as vitalon-sim; this
// class drives it from the event loop: every 10 ms the model advances by the
// time that really passed, and host commands are read as they come.
// POSIX only (pseudo-terminals); see SimulatedModulePosix.cpp.
class SimulatedModule : public QObject {
    Q_OBJECT
public:
    // Opens the pseudo-terminal; throws std::runtime_error when it cannot.
    explicit SimulatedModule(sim::Scenario scenario, QObject* parent = nullptr);
    // Serves `stream` (e.g. a recording played back) instead of the model.
    explicit SimulatedModule(std::unique_ptr<sim::ServedStream> stream, QObject* parent = nullptr);
    ~SimulatedModule() override;

    // The device path to open, like any serial device.
    const std::string& devicePath() const { return server_.devicePath(); }
    // The model served; only for a module made from a scenario.
    const sim::ModuleModel& model() const { return *model_; }
    const sim::ServedStream& stream() const { return *stream_; }
    const sim::ServeStats& stats() const { return server_.stats(); }

private:
    void readCommands();
    void pump();

    std::unique_ptr<sim::ModuleModel> model_;
    std::unique_ptr<sim::ServedStream> stream_;
    sim::ModuleServer server_;
    // Watches the master for host commands while somebody listens: with nobody
    // on the device it would report the hang-up on every poll.
    std::unique_ptr<QSocketNotifier> readNotifier_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastNs_ = 0;
};

}  // namespace vitalon
