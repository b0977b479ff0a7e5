#pragma once

#include <cstdint>

#include "DrawingSurface.h"

namespace vitalon {

// The trace's pen: the column of the newest segment and the row of the previous sample.
struct TracePen {
    std::int16_t x = 0;
    std::int16_t lastY = 0;
};

// A sweep display: one column per sample, a two-column erase band ahead of
// the pen, a wrap past the right edge. No scaling and no history: a sample s
// is drawn at row 256 - s.
class WaveformTrace {
public:
    explicit WaveformTrace(DrawingSurface& graph) : graph_(graph) {}

    // Moves the pen, wipes the band and draws the segment from the previous
    // level. A failing surface call propagates; x has then already moved.
    void plotSample(std::int16_t sample);

    const TracePen& pen() const { return pen_; }

private:
    DrawingSurface& graph_;
    TracePen pen_;
};

}  // namespace vitalon
