#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "HostTime.h"

namespace vitalon::analysis {

// Counts samples against the host's clock.
//
// USB serial adapters hand the bytes over in bursts, each stamped here with
// the time it arrived. Counting from one delivery to a later one measures over
// whole windows: the samples of the first delivery were made before the window
// opened and are left out, those of the last one are in. The error is then the
// jitter of two deliveries over the whole window, not the size of a burst.
//
// A module may also pause and then send its backlog at line speed, and a slow
// bridge may hold bytes back for a while. Samples can arrive late but never
// before they were made: plotted as the count so far against arrival time,
// every delivery lies on or below the line of the module's true rate, and the
// ones on it brought everything made until then. With an edge of E seconds the
// window therefore starts at the most advanced delivery of the first E
// seconds and ends at the most advanced one of the last E seconds, "advanced"
// meaning most samples ahead of the nominal rate. A pause up to shortly below
// E, anywhere, then biases nothing. An edge of 0 counts from the first delivery
// to the last.
class SampleRateCounter {
public:
    SampleRateCounter() = default;
    SampleRateCounter(double nominalPerSecond, double edgeSeconds);

    // `samples` more arrived at `arrival`; arrivals come in time order, and
    // all samples of one delivery carry the same time.
    void add(HostTime arrival, std::size_t samples = 1);
    void reset() { *this = SampleRateCounter(nominal_, edge_); }

    std::size_t deliveries() const { return points_.size(); }
    // From the first delivery to the last, seconds; 0 before the second one.
    double spanSeconds() const;
    // From the delivery that opens the window to the one that closes it.
    double windowSeconds() const;
    std::size_t samplesInWindow() const;
    // Samples per second over the window; nothing before a second delivery.
    std::optional<double> samplesPerSecond() const;

private:
    struct Point {
        HostTime arrival;
        std::size_t count;  // samples so far, this delivery's included
    };
    struct Window {
        const Point* from = nullptr;
        const Point* to = nullptr;
    };
    Window window() const;

    double nominal_ = 0.0;
    double edge_ = 0.0;
    std::vector<Point> points_;
};

}  // namespace vitalon::analysis
