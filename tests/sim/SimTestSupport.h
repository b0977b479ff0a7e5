#pragma once

// Helpers for the module-model tests: taking the byte stream apart and measuring
// it independently of the model's own code.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "ModuleModel.h"

namespace vitalon::sim::testing {

struct Report {
    std::uint8_t marker = 0;
    std::uint8_t value = 0;
    std::size_t samplesBefore = 0;  // where it came in the sample sequence
};

// The stream split into samples and reports, as a host decodes it, plus what
// no well-formed module stream may contain.
struct DecodedStream {
    std::vector<int> samples;
    std::vector<Report> reports;
    std::vector<std::string> faults;

    std::vector<int> values(std::uint8_t marker) const {
        std::vector<int> out;
        for (const Report& r : reports) {
            if (r.marker == marker) {
                out.push_back(r.value);
            }
        }
        return out;
    }
};

inline DecodedStream decode(const std::vector<std::uint8_t>& bytes) {
    DecodedStream d;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = bytes[i];
        if (b < 248) {
            d.samples.push_back(b);
        } else if (b >= 249 && b <= 251) {
            if (i + 1 == bytes.size()) {
                d.faults.push_back("marker " + std::to_string(b) + " at the end, no value");
                break;
            }
            d.reports.push_back({b, bytes[i + 1], d.samples.size()});
            ++i;
        } else {
            d.faults.push_back("byte " + std::to_string(b) + " where a sample belongs, offset " +
                               std::to_string(i));
        }
    }
    return d;
}

// Runs a model through `seconds` of simulated time in steps of `step` seconds,
// as a host's timer would.
inline std::vector<std::uint8_t> run(ModuleModel& model, double seconds, double step = 0.01) {
    std::vector<std::uint8_t> out;
    const auto steps = static_cast<long>(std::llround(seconds / step));
    const auto stepNs = std::chrono::nanoseconds(std::llround(step * 1e9));
    for (long i = 0; i < steps; ++i) {
        model.advance(stepNs, out);
    }
    return out;
}

// A plain R-wave detector, written for the tests: remove the local mean over
// +-0.1 s (which takes away P and T waves and baseline drift), then take the
// highest point of every excursion above half the largest one, with a 0.25 s
// refractory time. Returns peak times in seconds.
inline std::vector<double> detectRPeaks(const std::vector<int>& samples, double rate) {
    const auto n = samples.size();
    const auto half = static_cast<std::size_t>(std::lround(0.1 * rate));
    std::vector<double> prefix(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        prefix[i + 1] = prefix[i] + samples[i];
    }
    std::vector<double> h(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = i >= half ? i - half : 0;
        const std::size_t hi = std::min(n, i + half + 1);
        h[i] = samples[i] - (prefix[hi] - prefix[lo]) / static_cast<double>(hi - lo);
    }
    const double top = n ? *std::max_element(h.begin(), h.end()) : 0.0;
    const double threshold = 0.5 * top;
    const auto refractory = static_cast<std::size_t>(std::lround(0.25 * rate));
    std::vector<double> peaks;
    for (std::size_t i = 0; i < n; ++i) {
        if (h[i] <= threshold || top <= 0.0) {
            continue;
        }
        std::size_t best = i;
        for (std::size_t j = i; j < std::min(n, i + refractory); ++j) {
            if (h[j] > h[best]) {
                best = j;
            }
        }
        peaks.push_back(static_cast<double>(best) / rate);
        i = best + refractory;
    }
    return peaks;
}

// Mean rate per minute of the events in [from, from + length) seconds.
inline double rateInWindow(const std::vector<double>& times, double from, double length) {
    std::vector<double> inside;
    for (double t : times) {
        if (t >= from && t < from + length) {
            inside.push_back(t);
        }
    }
    if (inside.size() < 2) {
        return 0.0;
    }
    return 60.0 * static_cast<double>(inside.size() - 1) / (inside.back() - inside.front());
}

// Amplitude of the component at `hz` (one-bin DFT, mean removed).
inline double amplitudeAt(const std::vector<int>& samples, double rate, double hz) {
    if (samples.empty()) {
        return 0.0;
    }
    double mean = 0.0;
    for (int s : samples) {
        mean += s;
    }
    mean /= static_cast<double>(samples.size());
    std::complex<double> sum = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double angle = -2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate;
        sum += (samples[i] - mean) * std::polar(1.0, angle);
    }
    return 2.0 * std::abs(sum) / static_cast<double>(samples.size());
}

// The tail of a vector from index `from` on.
inline std::vector<int> from(const std::vector<int>& v, std::size_t index) {
    return {v.begin() + static_cast<long>(std::min(index, v.size())), v.end()};
}

}  // namespace vitalon::sim::testing
