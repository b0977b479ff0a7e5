#include "ToneSynth.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vitalon {

std::vector<std::int16_t> synthesizeTone(double frequencyHz, std::uint32_t durationMs) {
    constexpr double rate = ToneFormat::kSampleRate;
    const auto count = static_cast<std::size_t>(durationMs) * ToneFormat::kSampleRate / 1000u;
    std::vector<std::int16_t> pcm(count, 0);
    if (!(frequencyHz > 0.0) || frequencyHz >= rate / 2.0) {
        return pcm;
    }

    const std::size_t rampLength =
        std::min(static_cast<std::size_t>(ToneFormat::kFadeMs * rate / 1000.0), count / 2);
    const double peak = ToneFormat::kLevel * 32767.0;
    const double step = 2.0 * std::numbers::pi * frequencyHz / rate;
    for (std::size_t i = 0; i < count; ++i) {
        double gain = 1.0;
        const std::size_t fromEdge = std::min(i, count - 1 - i);
        if (fromEdge < rampLength) {
            gain = 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(fromEdge) /
                                        static_cast<double>(rampLength));
        }
        // The phase comes from the sample index, so no error accumulates.
        const double value = peak * gain * std::sin(step * static_cast<double>(i));
        pcm[i] = static_cast<std::int16_t>(std::lround(value));
    }
    return pcm;
}

}  // namespace vitalon
