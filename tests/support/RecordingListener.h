#pragma once

#include <string>
#include <vector>

#include "StreamListener.h"

namespace vitalon::testing {

// Records every decoded event as text: "plot 120", "pulse 72", "resp 18", "status 17", "reset".
class RecordingListener : public StreamListener {
public:
    void onSample(std::uint8_t s) override { calls.push_back("plot " + std::to_string(s)); }
    void onPulse(std::uint8_t r) override { calls.push_back("pulse " + std::to_string(r)); }
    void onRespiration(std::uint8_t r) override { calls.push_back("resp " + std::to_string(r)); }
    void onStatus(std::uint8_t c) override { calls.push_back("status " + std::to_string(c)); }
    void onPulseMarker() override { calls.push_back("reset"); }
    std::vector<std::string> calls;
};

}  // namespace vitalon::testing
