#pragma once

#include <string>
#include <vector>

#include "StreamDecoder.h"

namespace vitalon::testing {

// Records every decoder call as text: "plot 120", "pulse 72", "resp 18", "status 17", "reset".
class RecordingSink : public StreamSink {
public:
    void PlotSample(std::int16_t s) override { calls.push_back("plot " + std::to_string(s)); }
    void ShowPulse(std::uint8_t r) override { calls.push_back("pulse " + std::to_string(r)); }
    void ShowResp(std::uint8_t r) override { calls.push_back("resp " + std::to_string(r)); }
    void ShowStatus(std::uint8_t c) override { calls.push_back("status " + std::to_string(c)); }
    void PulseMarker() override { calls.push_back("reset"); }
    std::vector<std::string> calls;
};

}  // namespace vitalon::testing
