#pragma once

#include "StreamListener.h"
#include "VitalSignPanel.h"
#include "WaveformTrace.h"

namespace vitalon {

// The display as one listener of the decoded stream: samples to the trace;
// values, the watchdog restart and the pulse tone to the panel.
class DisplayListener : public StreamListener {
public:
    DisplayListener(WaveformTrace& trace, VitalSignPanel& panel) : trace_(trace), panel_(panel) {}

    void onSample(std::uint8_t sample) override { trace_.plotSample(sample); }
    void onPulse(std::uint8_t rate) override { panel_.showPulse(rate); }
    void onRespiration(std::uint8_t rate) override { panel_.showRespiration(rate); }
    void onStatus(std::uint8_t code) override { panel_.showStatus(code); }
    void onPulseMarker() override { panel_.restartWatchdog(); }

private:
    WaveformTrace& trace_;
    VitalSignPanel& panel_;
};

}  // namespace vitalon
