#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "ModuleModel.h"

class QSocketNotifier;

namespace vitalon {

// The module model served on a pseudo-terminal inside the program, so that the
// real serial path (device, QSerialPort, receive handler) carries its bytes.
// Paced by the monotonic clock: every 10 ms the model advances by the time that
// really passed and its bytes are written to the terminal's master side.
// POSIX only (pseudo-terminals); see Posix.cpp.
class SimulatedModule : public QObject {
    Q_OBJECT
public:
    // Opens the pseudo-terminal; throws std::runtime_error when it cannot.
    explicit SimulatedModule(sim::Scenario scenario, QObject* parent = nullptr);
    ~SimulatedModule() override;

    // The device path to open, like any serial device.
    const std::string& devicePath() const { return slavePath_; }
    const sim::ModuleModel& model() const { return model_; }

private:
    bool readCommands();  // false while nobody has the device open
    void setListening(bool listening);
    void pump();

    sim::ModuleModel model_;
    int master_ = -1;
    int slave_ =
        -1;  // held open so the master never reads a hang-up while the program's port is closed
    std::string slavePath_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastNs_ = 0;
    bool listening_ = false;
    std::vector<std::uint8_t> out_;
};

}  // namespace vitalon
