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

    // A hold: while frozen nothing is drawn and the picture stays as it was,
    // but the pen goes on moving across the area. Unfrozen, the sweep resumes
    // at the column the live stream has reached, as if it had been drawn all
    // along, so the part drawn after the freeze lines up in time with what
    // the module sends now.
    void setFrozen(bool frozen) { frozen_ = frozen; }
    bool frozen() const { return frozen_; }

private:
    DrawingSurface& graph_;
    TracePen pen_;
    bool frozen_ = false;
};

}  // namespace vitalon
