#pragma once

// POSIX only (Linux/glibc): pseudo-terminals, poll(2) and nonblocking I/O.
// Used by the vitalon-sim tool; the model itself is platform-neutral.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>

namespace vitalon::sim {

class ModuleModel;

struct PtyServeOptions {
    // How often the model is advanced and its output written.
    std::chrono::milliseconds period{10};
    // Simulated time to serve; zero serves until stopped.
    std::chrono::nanoseconds duration{0};
    // The longest step of simulated time per wake-up. If the process was held
    // up (suspended, swapped), the model skips the rest instead of flooding the
    // line with a burst of old data.
    std::chrono::milliseconds maxStep{500};
};

struct PtyServeStats {
    std::uint64_t wakeups = 0;
    std::uint64_t commandBytes = 0;  // read from the host
    std::uint64_t bytesWritten = 0;  // handed to the host
    std::uint64_t bytesDropped = 0;  // sent while nobody listened, or the host stopped reading
};

// Serves a ModuleModel on a pseudo-terminal, paced by the steady clock (a
// pseudo-terminal has no baud rate, so the pace must come from here).
//
// The slave side is put in raw mode and closed again: the host opens it by
// path. While nobody has it open, reading the master fails with EIO and poll
// reports a hang-up at once; the server then stops polling the master and only
// wakes at its period, and it writes nothing, so a host that opens the device
// later gets current data rather than a backlog, as with a module streaming
// into an unplugged cable.
class PtyServer {
public:
    PtyServer() = default;
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Opens the pair. False, with the reason in `error`, when that fails.
    bool open(std::string& error);
    const std::string& slavePath() const { return slavePath_; }

    // Runs until `stop` becomes nonzero (a signal handler may set it) or the
    // duration in `options` has passed; a signal cuts the wait short.
    PtyServeStats serve(ModuleModel& model, const volatile std::sig_atomic_t& stop,
                        const PtyServeOptions& options = {});

private:
    int master_ = -1;
    std::string slavePath_;
    bool listening_ = false;  // somebody has the slave open, as last seen
};

// A symbolic link at a fixed path to the slave device, so a host can be set up
// once. An old symbolic link there is replaced; anything else is left alone.
// The link is removed on destruction if it still points at the device.
class DeviceLink {
public:
    DeviceLink() = default;
    ~DeviceLink() { remove(); }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    bool create(const std::string& linkPath, const std::string& target, std::string& error);
    void remove();

private:
    std::string linkPath_;
    std::string target_;
};

}  // namespace vitalon::sim
