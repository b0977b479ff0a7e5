// libFuzzer target for the whole byte path: received chunks of any size, the
// decoder (checked against the reference state table), the trace on a surface
// that rejects out-of-range state, and the panel on fake labels.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Fakes.h"
#include "ReferenceDecoder.h"
#include "StreamDecoder.h"
#include "VitalSignPanel.h"
#include "WaveformTrace.h"

namespace {

using namespace vitalon;

class CheckingSurface : public DrawingSurface {
public:
    float areaWidth() const override { return 575.0f; }
    float areaHeight() const override { return 255.0f; }
    void setPenColor(std::uint32_t) override {}
    void drawLine(float x1, float y1, float x2, float y2) override {
        for (float v : {x1, y1, x2, y2}) {
            if (!std::isfinite(v) || v < 0.0f || v > 600.0f) {
                std::abort();
            }
        }
    }
};

class CountingTone : public ToneGenerator {
public:
    void beep(std::uint32_t f, std::uint32_t ms) override {
        if (f != 1000 || ms != 60) {
            std::abort();
        }
    }
};

class Pipeline : public StreamListener {
public:
    Pipeline() : trace(surface), panel(pulse, resp, status, toneSwitch, tone) {
        toneSwitch.checked = true;
    }
    void onSample(std::uint8_t s) override {
        record("plot " + std::to_string(s));
        trace.plotSample(s);
        if (trace.pen().x < 0 || trace.pen().x > 575) {
            std::abort();
        }
    }
    void onPulse(std::uint8_t r) override {
        record("pulse " + std::to_string(r));
        panel.showPulse(r);
    }
    void onRespiration(std::uint8_t r) override {
        record("resp " + std::to_string(r));
        panel.showRespiration(r);
    }
    void onStatus(std::uint8_t c) override {
        record("status " + std::to_string(c));
        panel.showStatus(c);
    }
    void onPulseMarker() override {
        record("reset");
        panel.restartWatchdog();
    }
    void record(std::string call) { calls.push_back(std::move(call)); }

    CheckingSurface surface;
    testing::FakeLabel pulse, resp, status;
    testing::FakeMenuItem toneSwitch;
    CountingTone tone;
    WaveformTrace trace;
    VitalSignPanel panel;
    std::vector<std::string> calls;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the chunk sizes, so markers land on every boundary.
    const std::size_t chunk = 1 + data[0] % 16;
    StreamDecoder decoder;
    Pipeline pipeline;
    decoder.addListener(pipeline);
    const std::span<const std::uint8_t> stream(data + 1, size - 1);
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        decoder.receive(stream.subspan(at, std::min(chunk, stream.size() - at)));
    }
    if (int(decoder.expectsPulse()) + int(decoder.expectsRespiration()) +
            int(decoder.expectsStatus()) >
        1) {
        std::abort();
    }
    pipeline.panel.watchdogTick();

    testing::ReferenceDecoder reference;
    std::vector<std::string> expected;
    for (std::size_t i = 1; i < size; ++i) {
        reference.step(data[i], expected);
    }
    if (expected != pipeline.calls) {
        std::abort();
    }
    return 0;
}
