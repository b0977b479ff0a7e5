#pragma once

#include <cstddef>
#include <optional>

#include "HostTime.h"

namespace vitalon::analysis {

// Counts samples against the host's clock.
//
// USB serial adapters hand the bytes over in bursts, each stamped here with
// the time it arrived. Counting from one delivery to a later one measures over
// whole windows: the samples of the first delivery were made before the window
// opened and are left out, those of the last one are in. The error is then the
// jitter of two deliveries over the whole window, not the size of a burst.
class SampleRateCounter {
public:
    // `samples` more arrived at `arrival`; arrivals come in time order, and
    // all samples of one delivery carry the same time.
    void add(HostTime arrival, std::size_t samples = 1);
    void reset() { *this = {}; }

    std::size_t deliveries() const { return deliveries_; }
    // From the first delivery to the last, seconds; 0 before the second one.
    double windowSeconds() const;
    std::size_t samplesInWindow() const { return samplesInWindow_; }
    // Samples per second over the window; nothing before a second delivery.
    std::optional<double> samplesPerSecond() const;

private:
    std::optional<HostTime> first_;
    HostTime last_{};
    std::size_t deliveries_ = 0;
    std::size_t samplesInWindow_ = 0;
};

}  // namespace vitalon::analysis
