#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace vitalon::sim {

// What a module server serves on its pseudo-terminal: the module model, or a
// recording played back. Plain C++; time is a parameter.
class ServedStream {
public:
    virtual ~ServedStream() = default;
    // Command bytes from the host, in any chunking.
    virtual void receive(std::span<const std::uint8_t> bytes) = 0;
    // Lets `step` of time pass and appends what is sent meanwhile to `out`.
    virtual void advance(std::chrono::nanoseconds step, std::vector<std::uint8_t>& out) = 0;
    // Time served so far.
    virtual std::chrono::nanoseconds elapsed() const = 0;
    // True when the stream's time should stand still while no host has the
    // device open (a recording waits for its viewer; a module runs on).
    virtual bool waitsForHost() const { return false; }
};

}  // namespace vitalon::sim
