#include "RespirationCurve.h"

#include <algorithm>
#include <vector>

namespace vitalon::analysis {

namespace {

// A curve whose percentiles lie closer than this is flat: no breaths.
constexpr double kMinimumSpanCounts = 4.0;

double percentile(std::vector<std::uint8_t> values, double fraction) {
    const auto at =
        values.begin() + static_cast<long>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

}  // namespace

std::optional<double> breathsPerMinute(std::span<const std::uint8_t> samples,
                                       double samplesPerSecond) {
    if (samples.size() < 3 || samplesPerSecond <= 0.0) {
        return std::nullopt;
    }
    const std::vector<std::uint8_t> values(samples.begin(), samples.end());
    const double low = percentile(values, 0.02);
    const double high = percentile(values, 0.98);
    if (high - low < kMinimumSpanCounts) {
        return std::nullopt;
    }
    const double lower = low + 0.35 * (high - low);
    const double upper = low + 0.65 * (high - low);
    bool wasLow = false;
    std::optional<std::size_t> first;
    std::size_t last = 0;
    std::size_t rises = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double v = samples[i];
        if (v < lower) {
            wasLow = true;
        } else if (wasLow && v > upper) {
            wasLow = false;
            if (!first) {
                first = i;
            }
            last = i;
            ++rises;
        }
    }
    if (rises < 2) {
        return std::nullopt;
    }
    const double seconds = static_cast<double>(last - *first) / samplesPerSecond;
    return 60.0 * static_cast<double>(rises - 1) / seconds;
}

}  // namespace vitalon::analysis
