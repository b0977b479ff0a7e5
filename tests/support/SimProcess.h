#pragma once

// POSIX-only test support: the vitalon-sim tool in a child process, with its
// device path read from standard output and its standard error collected.

#include <sys/types.h>
#include <chrono>
#include <string>
#include <vector>

namespace vitalon::testing {

class SimProcess {
public:
    // Starts vitalon-sim with `args` and waits for the device path it prints.
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& devicePath() const { return path_; }

    // Standard error so far (the commands the module received, with --verbose).
    const std::string& errorOutput();

    // Waits until standard error contains `text` or the timeout passes.
    bool waitForError(const std::string& text, std::chrono::milliseconds timeout);

private:
    void drain();

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string path_;
    std::string errors_;
};

}  // namespace vitalon::testing
