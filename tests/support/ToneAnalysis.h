#pragma once

// Finds the tones in a recording of 16-bit mono samples: where each starts,
// how long it lasts, its frequency, and how loud the silence around it is.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace vitalon::testing {

struct HeardTone {
    std::size_t start = 0;  // first sample above the threshold
    std::size_t end = 0;    // one past the last
    double lengthMs = 0.0;
    double frequencyHz = 0.0;
    int peak = 0;
};

// A tone is a stretch of samples louder than `threshold` with no quiet run
// longer than `maxQuietMs` inside (a sine is quiet near each zero crossing).
// The frequency comes from the first and last zero crossings, interpolated
// between samples, so it is exact to well below a hertz for a 60 ms tone.
inline std::vector<HeardTone> findTones(const std::vector<std::int16_t>& pcm, int rate,
                                        int threshold = 200, double maxQuietMs = 2.0) {
    std::vector<HeardTone> tones;
    const auto maxQuiet = static_cast<std::size_t>(maxQuietMs * rate / 1000.0);
    std::size_t i = 0;
    while (i < pcm.size()) {
        if (std::abs(static_cast<int>(pcm[i])) <= threshold) {
            ++i;
            continue;
        }
        HeardTone tone;
        tone.start = i;
        std::size_t last = i;
        for (; i < pcm.size() && i - last <= maxQuiet; ++i) {
            const int v = std::abs(static_cast<int>(pcm[i]));
            if (v > threshold) {
                last = i;
                tone.peak = std::max(tone.peak, v);
            }
        }
        tone.end = last + 1;
        tone.lengthMs = static_cast<double>(tone.end - tone.start) * 1000.0 / rate;
        double first = -1.0;
        double lastCrossing = -1.0;
        int crossings = 0;
        for (std::size_t k = tone.start + 1; k < tone.end; ++k) {
            const double a = pcm[k - 1];
            const double b = pcm[k];
            if ((a < 0.0) != (b < 0.0)) {
                const double at = static_cast<double>(k - 1) + a / (a - b);
                if (first < 0.0) {
                    first = at;
                }
                lastCrossing = at;
                ++crossings;
            }
        }
        if (crossings >= 2) {
            tone.frequencyHz = (crossings - 1) / 2.0 * rate / (lastCrossing - first);
        }
        tones.push_back(tone);
    }
    return tones;
}

// The loudest sample in [from, to).
inline int loudest(const std::vector<std::int16_t>& pcm, std::size_t from, std::size_t to) {
    int peak = 0;
    for (std::size_t i = from; i < to && i < pcm.size(); ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(pcm[i])));
    }
    return peak;
}

}  // namespace vitalon::testing
