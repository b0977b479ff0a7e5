#include "SampleRateCounter.h"

namespace vitalon::analysis {

void SampleRateCounter::add(HostTime arrival, std::size_t samples) {
    if (!first_) {
        first_ = arrival;
        last_ = arrival;
        deliveries_ = 1;
        return;
    }
    if (arrival > last_) {
        last_ = arrival;
        ++deliveries_;
    }
    // Still the first delivery: made before the window opened.
    if (last_ != *first_) {
        samplesInWindow_ += samples;
    }
}

double SampleRateCounter::windowSeconds() const {
    return first_ ? secondsBetween(*first_, last_) : 0.0;
}

std::optional<double> SampleRateCounter::samplesPerSecond() const {
    const double window = windowSeconds();
    if (window <= 0.0) {
        return std::nullopt;
    }
    return static_cast<double>(samplesInWindow_) / window;
}

}  // namespace vitalon::analysis
