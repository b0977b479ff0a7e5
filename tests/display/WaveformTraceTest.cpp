#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "WaveformTrace.h"

namespace vitalon {
namespace {

using Log = std::vector<std::string>;

// Records every surface call, reads included, so the order is checked as well.
class RecordingSurface : public DrawingSurface {
public:
    float areaWidth() const override { return log.push_back("W"), 575.0f; }
    float areaHeight() const override { return log.push_back("H"), 255.0f; }
    void setPenColor(std::uint32_t color) override {
        char text[32];
        std::snprintf(text, sizeof text, "Fore %08X", color);
        log.push_back(text);
    }
    void drawLine(float x1, float y1, float x2, float y2) override {
        if (lines++ == failingLine) {
            throw std::runtime_error("line failed");
        }
        char text[64];
        std::snprintf(text, sizeof text, "Line %g,%g-%g,%g", x1, y1, x2, y2);
        log.push_back(text);
    }
    Log take() { return std::exchange(log, {}); }

    int lines = 0;
    int failingLine = -1;
    mutable Log log;
};

TEST(WaveformTrace, DrawsTheSweepFromTheTopLeftCornerAcrossTheWrap) {
    RecordingSurface surface;
    WaveformTrace trace(surface);

    trace.plotSample(100);
    EXPECT_EQ(surface.take(), (Log{"W", "Fore 80000005", "H", "Line 1,1-1,255", "H",
                                   "Line 2,1-2,255", "Fore 8000000D", "Line 0,0-1,156"}));
    trace.plotSample(110);
    EXPECT_EQ(surface.take(), (Log{"W", "Fore 80000005", "H", "Line 2,1-2,255", "H",
                                   "Line 3,1-3,255", "Fore 8000000D", "Line 1,156-2,146"}));

    int samples = 2;
    while (trace.pen().x != 574) {
        trace.plotSample(128);
        ++samples;
    }
    surface.take();
    trace.plotSample(130);  // the pen reaches column W, just past the right edge
    EXPECT_EQ(surface.take(), (Log{"W", "Fore 80000005", "H", "Line 575,1-575,255", "H",
                                   "Line 576,1-576,255", "Fore 8000000D", "Line 574,128-575,126"}));
    trace.plotSample(140);  // wrap: columns 0 and 1 wiped, no segment, level kept
    EXPECT_EQ(surface.take(), (Log{"W", "Fore 80000005", "H", "Line 0,1-0,255", "H",
                                   "Line 1,1-1,255", "Fore 8000000D"}));
    EXPECT_EQ(samples + 2, 576);  // one sweep is W + 1 samples
    EXPECT_EQ(trace.pen().lastY, 116);
    trace.plotSample(150);
    EXPECT_EQ(surface.take().back(), "Line 0,116-1,106");
}

TEST(WaveformTrace, LevelIsRow256MinusTheSample) {
    RecordingSurface surface;
    WaveformTrace trace(surface);
    for (auto [sample, level] : {std::pair{0, 256}, {128, 128}, {247, 9}}) {
        trace.plotSample(static_cast<std::int16_t>(sample));
        EXPECT_EQ(trace.pen().lastY, level) << sample;
    }
}

TEST(WaveformTrace, FailingSurfaceCallLeavesThePenMovedAndTheLevelUnchanged) {
    RecordingSurface surface;
    WaveformTrace trace(surface);
    trace.plotSample(100);           // column 1, level 156
    for (int failing : {0, 1, 2}) {  // each line of the next sample in turn
        surface.lines = 0;
        surface.failingLine = failing;
        EXPECT_THROW(trace.plotSample(200), std::runtime_error);
        EXPECT_EQ(trace.pen().x, 2 + failing);
        EXPECT_EQ(trace.pen().lastY, 156);
    }
    // The next sample joins the last level stored before the failures.
    surface.failingLine = -1;
    trace.plotSample(100);
    EXPECT_EQ(surface.take().back(), "Line 4,156-5,156");
}

TEST(WaveformTrace, FrozenItDrawsNothingButItsPenMovesOnAndResumesAtTheLiveColumn) {
    RecordingSurface surface;
    WaveformTrace trace(surface);
    trace.plotSample(100);
    surface.take();

    trace.setFrozen(true);
    EXPECT_TRUE(trace.frozen());
    trace.plotSample(120);
    trace.plotSample(130);
    EXPECT_EQ(surface.take(), (Log{"W", "W"}));  // only the width, for the wrap
    EXPECT_EQ(trace.pen().x, 3);
    EXPECT_EQ(trace.pen().lastY, 256 - 130);

    trace.setFrozen(false);
    trace.plotSample(140);  // from the level the live stream had reached
    EXPECT_EQ(surface.take(), (Log{"W", "Fore 80000005", "H", "Line 4,1-4,255", "H",
                                   "Line 5,1-5,255", "Fore 8000000D", "Line 3,126-4,116"}));
}

}  // namespace
}  // namespace vitalon
