#pragma once

#include <functional>
#include <string>
#include <utility>

#include "ReplaySource.h"
#include "ServedStream.h"

namespace vitalon::recording {

// A recording served by a module server: its bytes paced at the recorded
// rate, from the moment a host opens the device. Commands from the host are
// taken and dropped: a recording cannot change its signal. They are counted,
// and told to `onCommand` for a tool that logs them. After the end the
// device stays open and silent, as a module that stopped sending.
class ReplayStream : public sim::ServedStream {
public:
    explicit ReplayStream(ReplaySource source) : source_(std::move(source)) {}

    void receive(std::span<const std::uint8_t> bytes) override {
        commandBytes_ += bytes.size();
        if (onCommand) {
            onCommand(std::string(bytes.begin(), bytes.end()));
        }
    }
    void advance(std::chrono::nanoseconds step, std::vector<std::uint8_t>& out) override {
        if (step.count() > 0) {
            elapsed_ += step;
        }
        source_.advance(elapsed_, out);
        if (source_.finished() && !toldFinished_) {
            toldFinished_ = true;
            if (onFinished) {
                onFinished();
            }
        }
    }
    std::chrono::nanoseconds elapsed() const override { return elapsed_; }
    bool waitsForHost() const override { return true; }

    const ReplaySource& source() const { return source_; }
    std::uint64_t commandBytes() const { return commandBytes_; }
    std::function<void(const std::string&)> onCommand;
    // Told once, when the last byte of the recording has been served.
    std::function<void()> onFinished;

private:
    ReplaySource source_;
    std::chrono::nanoseconds elapsed_{0};
    std::uint64_t commandBytes_ = 0;
    bool toldFinished_ = false;
};

}  // namespace vitalon::recording
