#pragma once

#include <memory>
#include <string>
#include <vector>

#include "PortManager.h"
#include "SimulatedModule.h"

namespace vitalon {

namespace recording {
class ReplayStream;
}

class Station;

// A module this program serves itself on COM1 through a pseudo-terminal, so
// that the real serial path carries it: the module model (--simulate), or a
// recording played back at its recorded pace (--replay). POSIX only; see
// ServedModulePosix.cpp.
class ServedModule {
public:
    // The module model. Throws std::runtime_error when the pseudo-terminal
    // cannot be set up.
    static std::unique_ptr<ServedModule> simulation();
    // The recording at `path` (and the files it continues in). Throws
    // std::runtime_error naming what is wrong with the file, or with the
    // pseudo-terminal; what the reader noted about the file goes to `notes`.
    static std::unique_ptr<ServedModule> replay(const std::string& path,
                                                std::vector<std::string>& notes);
    ~ServedModule();

    // What COM1 stands for.
    const PortDevice& device() const { return device_; }
    bool isReplay() const { return replay_ != nullptr; }
    // The replay's rate in samples a second; 0 for the module model.
    int replayRate() const { return replayRate_; }

    // Serves `station`: a module test on COM1 judges no module; a replay's
    // end is reported, its files are never recorded over, and commands do not
    // change the recording's rate.
    void serve(Station& station);

private:
    ServedModule() = default;

    std::unique_ptr<SimulatedModule> module_;
    recording::ReplayStream* replay_ = nullptr;  // owned by the module
    PortDevice device_;
    std::string replayName_;  // the recording's file name
    int replayRate_ = 0;
};

}  // namespace vitalon
