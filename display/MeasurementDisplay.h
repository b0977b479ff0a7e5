#pragma once

#include "StreamDecoder.h"
#include "VitalSignPanel.h"
#include "WaveformTrace.h"

namespace vitalon {

// Routes what the decoder recognises: samples to the trace, values and the
// watchdog restart to the panel.
class MeasurementDisplay : public StreamSink {
public:
    MeasurementDisplay(WaveformTrace& trace, VitalSignPanel& panel)
        : trace_(trace), panel_(panel) {}

    void PlotSample(std::int16_t sample) override { trace_.PlotSample(sample); }
    void ShowPulse(std::uint8_t rate) override { panel_.ShowPulse(rate); }
    void ShowResp(std::uint8_t rate) override { panel_.ShowResp(rate); }
    void ShowStatus(std::uint8_t code) override { panel_.ShowStatus(code); }
    void PulseMarker() override { panel_.resetNoDataTicks(); }

private:
    WaveformTrace& trace_;
    VitalSignPanel& panel_;
};

}  // namespace vitalon
