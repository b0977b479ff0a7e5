#include "RateMeter.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vitalon::sim {

std::optional<double> RateMeter::onEvent(std::uint64_t tick) {
    const std::optional<std::uint64_t> previous = lastTick_;
    lastTick_ = tick;
    if (!previous || tick <= *previous) {
        return std::nullopt;
    }
    recent_.push_back(tick - *previous);
    while (recent_.size() > intervals_) {
        recent_.pop_front();
    }
    const double sum =
        static_cast<double>(std::accumulate(recent_.begin(), recent_.end(), std::uint64_t{0}));
    return 60.0 * static_cast<double>(recent_.size()) * ticksPerSecond_ / sum;
}

void RateMeter::reset() {
    lastTick_.reset();
    recent_.clear();
}

std::uint8_t rateByte(double perMinute) {
    if (!(perMinute > 0.0)) {
        return 0;
    }
    return static_cast<std::uint8_t>(std::lround(std::min(perMinute, double{kMaxRateByte})));
}

}  // namespace vitalon::sim
