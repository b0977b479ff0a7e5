#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace vitalon::sim {

// The module's rate measurement: the rate per minute from the mean of the last
// few intervals between detected events (beats or breaths), timed in internal
// ticks. The first event after a reset gives no rate yet.
class RateMeter {
public:
    RateMeter(std::size_t intervals, double ticksPerSecond)
        : intervals_(intervals), ticksPerSecond_(ticksPerSecond) {}

    std::optional<double> onEvent(std::uint64_t tick);
    void reset();

private:
    std::size_t intervals_;
    double ticksPerSecond_;
    std::optional<std::uint64_t> lastTick_;
    std::deque<std::uint64_t> recent_;
};

// A rate as the one byte a report carries: rounded and clamped to 0..248.
// The host reads a value of 249, 250 or 251 as a marker as well and would take
// the sample after it for another value, so rates above 248 go out as 248.
inline constexpr std::uint8_t kMaxRateByte = 248;
std::uint8_t rateByte(double perMinute);

}  // namespace vitalon::sim
