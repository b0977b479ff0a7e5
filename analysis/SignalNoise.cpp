#include "SignalNoise.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace vitalon::analysis {

namespace {

// The product of two polynomials in the delay, as filter taps.
std::vector<double> convolved(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> c(a.size() + b.size() - 1, 0.0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        for (std::size_t j = 0; j < b.size(); ++j) {
            c[i + j] += a[i] * b[j];
        }
    }
    return c;
}

// 1 - 2 cos(w) z^-1 + z^-2: a zero pair at `hz`.
std::vector<double> zeroAt(double hz, double samplesPerSecond) {
    const double w = 2.0 * std::numbers::pi * hz / samplesPerSecond;
    return {1.0, -2.0 * std::cos(w), 1.0};
}

}  // namespace

std::optional<double> noiseBetweenBeats(std::span<const std::uint8_t> x, const Beats& beats) {
    const double rate = beats.samplesPerSecond;
    if (rate <= 0.0) {
        return std::nullopt;
    }
    std::vector<double> taps = {1.0, -2.0, 1.0};
    for (const double hz : {50.0, 60.0}) {
        // A zero at or above half the rate would only take away noise.
        if (hz < 0.5 * rate) {
            taps = convolved(taps, zeroAt(hz, rate));
        }
    }
    double gain = 0.0;
    for (const double t : taps) {
        gain += t * t;
    }

    // Which samples lie in a QRS complex.
    std::vector<bool> inQrs(x.size(), false);
    const auto before = static_cast<std::size_t>(std::lround(0.08 * rate));
    const auto after = static_cast<std::size_t>(std::lround(0.12 * rate));
    for (const std::size_t r : beats.rWaves) {
        const std::size_t from = r >= before ? r - before : 0;
        for (std::size_t i = from; i < std::min(x.size(), r + after + 1); ++i) {
            inQrs[i] = true;
        }
    }

    const std::size_t span = taps.size();
    double squares = 0.0;
    std::size_t count = 0;
    std::size_t clear = 0;  // samples since the last one in a QRS complex
    for (std::size_t i = 0; i < x.size(); ++i) {
        clear = inQrs[i] ? 0 : clear + 1;
        if (clear < span) {
            continue;
        }
        double y = 0.0;
        for (std::size_t k = 0; k < span; ++k) {
            y += taps[k] * x[i - k];
        }
        squares += y * y;
        ++count;
    }
    if (static_cast<double>(count) < 0.1 * rate) {
        return std::nullopt;
    }
    return std::sqrt(squares / static_cast<double>(count) / gain);
}

}  // namespace vitalon::analysis
