#include "MainsTone.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace vitalon::analysis {

double toneAmplitude(std::span<const std::uint8_t> samples, double samplesPerSecond, double hz) {
    const std::size_t n = samples.size();
    if (n < 2 || samplesPerSecond <= 0.0) {
        return 0.0;
    }
    const double mean =
        std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(n);
    const double omega = 2.0 * std::numbers::pi * hz / samplesPerSecond;
    const double coefficient = 2.0 * std::cos(omega);
    double s1 = 0.0, s2 = 0.0, windowSum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(n - 1));
        windowSum += w;
        const double s = w * (samples[i] - mean) + coefficient * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(0.0, power)) / windowSum;
}

double strongestToneNear(std::span<const std::uint8_t> samples, double samplesPerSecond, double hz,
                         double bandHz) {
    double strongest = 0.0;
    const auto steps = static_cast<int>(std::lround(bandHz * 10.0));
    for (int k = -steps; k <= steps; ++k) {
        strongest = std::max(strongest, toneAmplitude(samples, samplesPerSecond, hz + 0.1 * k));
    }
    return strongest;
}

}  // namespace vitalon::analysis
