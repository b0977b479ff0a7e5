#include "ServedModule.h"

#include <QFileInfo>
#include <QString>
#include <stdexcept>

#include "ReplayStream.h"
#include "Scenario.h"
#include "Station.h"

namespace vitalon {

std::unique_ptr<ServedModule> ServedModule::simulation() {
    std::unique_ptr<ServedModule> served(new ServedModule);
    served->module_ = std::make_unique<SimulatedModule>(sim::Scenario{});
    served->device_ = PortDevice{served->module_->devicePath(), "simulated TR71010 module"};
    return served;
}

std::unique_ptr<ServedModule> ServedModule::replay(const std::string& path,
                                                   std::vector<std::string>& notes) {
    recording::ReplaySource source;
    if (const std::string problem = source.open(path); !problem.empty()) {
        throw std::runtime_error(problem);
    }
    notes = source.notes();
    std::unique_ptr<ServedModule> served(new ServedModule);
    served->replayRate_ = source.samplesPerSecond();
    auto stream = std::make_unique<recording::ReplayStream>(std::move(source));
    served->replay_ = stream.get();
    served->module_ = std::make_unique<SimulatedModule>(std::move(stream));
    served->device_ = PortDevice{served->module_->devicePath(), "replay of " + path};
    served->replayName_ = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
    return served;
}

ServedModule::~ServedModule() {
    if (replay_ != nullptr) {
        replay_->onFinished = nullptr;
    }
}

void ServedModule::serve(Station& station) {
    station.setSimulatedDevice(device_.path);
    if (replay_ == nullptr) {
        return;
    }
    station.recording().setReplay(replayRate_);
    replay_->onFinished = [this, &station] {
        // Why it ended early, if it did: a next file missing or already replayed.
        const std::string& error = replay_->source().error();
        station.report("Replay of " + replayName_ + " finished" +
                       (error.empty() ? "" : ": " + error));
    };
    // Recording over a file of the replay would destroy what is being shown.
    recording::ReplayStream* replay = replay_;
    station.recording().filesInUse = [replay] { return replay->source().filesInUse(); };
}

}  // namespace vitalon
