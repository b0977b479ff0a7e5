#include "WaveformTrace.h"

#include "Colors.h"

namespace vitalon {

void WaveformTrace::plotSample(std::int16_t sample) {
    // The width is read every time: the pen wraps at whatever the surface is now.
    const float width = graph_.areaWidth();

    // The pen moves before anything is drawn, so a failing draw below still
    // leaves it on the new column. It runs 1..W, then 0: W + 1 samples a sweep.
    if (static_cast<float>(pen_.x) < width) {
        pen_.x = static_cast<std::int16_t>(pen_.x + 1);
    } else {
        pen_.x = 0;
    }

    // Row 256 - s: larger samples higher up; the range is fixed, not scaled.
    const auto level = static_cast<std::int16_t>(256 - sample);
    const auto x = static_cast<float>(pen_.x);
    if (frozen_) {
        pen_.lastY = level;
        return;
    }

    // Erase band: the pen's column and the one after it, from row 1 down.
    // Row 0 is deliberately left alone.
    graph_.setPenColor(colors::WindowBackground);
    graph_.drawLine(x, 1.0f, x, graph_.areaHeight());
    graph_.drawLine(x + 1.0f, 1.0f, x + 1.0f, graph_.areaHeight());

    graph_.setPenColor(colors::Highlight);
    // Column 0 right after a wrap gets no segment: it would come from the far right.
    if (pen_.x >= 1) {
        graph_.drawLine(x - 1.0f, static_cast<float>(pen_.lastY), x, static_cast<float>(level));
    }
    pen_.lastY = level;
}

}  // namespace vitalon
