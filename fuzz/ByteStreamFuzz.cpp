// libFuzzer target for the whole byte path: port reads of any size, the
// decoder (checked against the reference state table), the trace on a surface
// that rejects out-of-range state, and the panel on fake labels.
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
    float ScaleWidth() const override { return 575.0f; }
    float ScaleHeight() const override { return 255.0f; }
    void ForeColor(std::uint32_t) override {}
    void Line(float x1, float y1, float x2, float y2) override {
        for (float v : {x1, y1, x2, y2}) {
            if (!std::isfinite(v) || v < 0.0f || v > 600.0f) {
                std::abort();
            }
        }
    }
};

class CountingTone : public ToneGenerator {
public:
    void Beep(std::uint32_t f, std::uint32_t ms) override {
        if (f != 1000 || ms != 60) {
            std::abort();
        }
    }
};

class Pipeline : public StreamSink {
public:
    Pipeline() : trace(surface), panel(pulse, resp, status, toneSwitch, tone) {
        toneSwitch.checked = true;
    }
    void PlotSample(std::int16_t s) override {
        record("plot " + std::to_string(s));
        trace.PlotSample(s);
        if (trace.pen().PlotX < 0 || trace.pen().PlotX > 575) {
            std::abort();
        }
    }
    void ShowPulse(std::uint8_t r) override {
        record("pulse " + std::to_string(r));
        panel.ShowPulse(r);
    }
    void ShowResp(std::uint8_t r) override {
        record("resp " + std::to_string(r));
        panel.ShowResp(r);
    }
    void ShowStatus(std::uint8_t c) override {
        record("status " + std::to_string(c));
        panel.ShowStatus(c);
    }
    void PulseMarker() override {
        record("reset");
        panel.resetNoDataTicks();
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
    // The first byte chooses the read sizes, so markers land on every boundary.
    const std::size_t chunk = 1 + data[0] % 16;
    testing::FakeSerialPort port;
    port.inBuffer.assign(data + 1, data + size);
    for (std::size_t left = size - 1; left > 0; left -= std::min(left, chunk)) {
        port.chunks.push_back(std::min(left, chunk));
    }

    StreamDecoder decoder;
    Pipeline pipeline;
    receiveFromPort(port, decoder, pipeline);
    if (!port.inBuffer.empty() ||
        int(decoder.ExpectPulse) + int(decoder.ExpectResp) + int(decoder.ExpectStatus) > 1) {
        std::abort();
    }
    pipeline.panel.WatchdogTick();

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
