#pragma once

// POSIX only (see ModuleServerPosix.cpp): serves the module model on a
// pseudo-terminal. Used by the vitalon-sim tool and by `vitalon --simulate`;
// the model itself is platform-neutral.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "PseudoTerminal.h"
#include "ServedStream.h"

namespace vitalon::sim {

class ModuleModel;

struct ServeStats {
    std::uint64_t wakeups = 0;
    std::uint64_t commandBytes = 0;   // read from the host
    std::uint64_t bytesWritten = 0;   // handed to the host
    std::uint64_t bytesDropped = 0;   // sent while nobody listened, or the host stopped reading
    std::uint64_t chunksDropped = 0;  // whole chunks among the dropped bytes
};

struct ServeOptions {
    // How often the model is advanced and its output written.
    std::chrono::milliseconds period{10};
    // Simulated time to serve; zero serves until stopped.
    std::chrono::nanoseconds duration{0};
    // The longest step of simulated time per wake-up. If the process was held
    // up (suspended, swapped), the model skips the rest instead of flooding the
    // line with a burst of old data.
    std::chrono::milliseconds maxStep{500};
};

// The module's end of the line. The host opens the slave side by path. While
// nobody has it open, reading the master fails with EIO: the server then
// writes nothing, so a host that opens the device later gets current data
// rather than a backlog, as with a module streaming into an unplugged cable.
//
// Write rule: each step's output is one chunk, written whole or not at all,
// so a marker never reaches the host without the value after it. A chunk the
// line took only in part is finished before anything newer; while it cannot
// be finished, newer chunks are dropped whole and counted. A host that stops
// reading thus loses whole chunks.
class ModuleServer {
public:
    // Opens the pseudo-terminal; throws std::runtime_error when it cannot.
    ModuleServer();
    ModuleServer(const ModuleServer&) = delete;
    ModuleServer& operator=(const ModuleServer&) = delete;

    const std::string& devicePath() const { return pty_.slavePath(); }
    // The master side, to wait on for host commands while somebody listens.
    int masterFd() const { return pty_.masterFd(); }
    // Somebody had the device open when it was last looked at.
    bool listening() const { return listening_; }
    const ServeStats& stats() const { return stats_; }

    // Passes what the host sent to the model; notes whether anybody listens.
    void readCommands(ModuleModel& model);
    void readCommands(ServedStream& stream);
    // Advances the model by `step` and sends its output as one chunk. A stream
    // that waits for its host stands still while nobody listens.
    void advance(ModuleModel& model, std::chrono::nanoseconds step);
    void advance(ServedStream& stream, std::chrono::nanoseconds step);
    // Sends one chunk under the write rule; an empty chunk only finishes a partial one.
    void send(std::span<const std::uint8_t> chunk);

    // Runs on the calling thread, paced by the steady clock, until `stop`
    // becomes nonzero (a signal handler may set it) or the duration in
    // `options` has passed; a signal cuts the wait short.
    const ServeStats& serve(ModuleModel& model, const volatile std::sig_atomic_t& stop,
                            const ServeOptions& options = {});
    const ServeStats& serve(ServedStream& stream, const volatile std::sig_atomic_t& stop,
                            const ServeOptions& options = {});

private:
    bool flushPending();  // false when the host has gone
    void drop(std::size_t bytes);
    void hostLeft();

    PseudoTerminal pty_;
    bool listening_ = false;
    ServeStats stats_;
    std::vector<std::uint8_t> pending_;  // the unfinished part of a chunk
    std::vector<std::uint8_t> chunk_;
};

// The module model as a served stream.
class ModelStream : public ServedStream {
public:
    explicit ModelStream(ModuleModel& model) : model_(model) {}
    void receive(std::span<const std::uint8_t> bytes) override;
    void advance(std::chrono::nanoseconds step, std::vector<std::uint8_t>& out) override;
    std::chrono::nanoseconds elapsed() const override;

private:
    ModuleModel& model_;
};

// A symbolic link at a fixed path to the device, so a host can be set up
// once. An old symbolic link there is replaced; anything else is left alone.
// The link is removed on destruction if it still points at the device.
class DeviceSymlink {
public:
    DeviceSymlink() = default;
    ~DeviceSymlink() { remove(); }
    DeviceSymlink(const DeviceSymlink&) = delete;
    DeviceSymlink& operator=(const DeviceSymlink&) = delete;

    bool create(const std::string& linkPath, const std::string& target, std::string& error);
    void remove();

private:
    std::string linkPath_;
    std::string target_;
};

}  // namespace vitalon::sim
