#pragma once

#include <cstdint>
#include <vector>

namespace vitalon {

struct ToneFormat {
    static constexpr int kSampleRate = 48000;  // 16-bit signed mono
    static constexpr double kFadeMs = 5.0;     // raised-cosine ramp at either end
    static constexpr double kLevel = 0.5;      // peak, as a fraction of full scale
};

// A sine of `frequencyHz` lasting `durationMs`, as 16-bit mono PCM at 48 kHz,
// faded in and out with a raised cosine so the tone starts and stops without
// a click (tones shorter than two ramps fade over half their length each).
// Frequencies at or above half the sample rate cannot be represented: they
// would fold back into an audible wrong pitch, so they give silence instead.
std::vector<std::int16_t> synthesizeTone(double frequencyHz, std::uint32_t durationMs);

}  // namespace vitalon
