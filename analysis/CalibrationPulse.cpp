#include "CalibrationPulse.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Protocol.h"

namespace vitalon::analysis {

namespace {

double median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Where the straight line between two samples crosses `level`, as a
// fractional index between them.
double crossing(double indexA, double a, double b, double level) {
    if (a == b) {
        return indexA + 0.5;
    }
    return indexA + std::clamp((level - a) / (b - a), 0.0, 1.0);
}

struct Line {
    double start = 0.0;  // value at the first point
    double slope = 0.0;  // per sample
};

Line fitLine(std::span<const std::uint8_t> y) {
    const auto n = static_cast<double>(y.size());
    double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const auto x = static_cast<double>(i);
        sx += x;
        sy += y[i];
        sxx += x * x;
        sxy += x * y[i];
    }
    const double denominator = n * sxx - sx * sx;
    const double slope = denominator > 0.0 ? (n * sxy - sx * sy) / denominator : 0.0;
    return {(sy - slope * sx) / n, slope};
}

}  // namespace

std::optional<CalibrationPulse> findCalibrationPulse(std::span<const std::uint8_t> x,
                                                     double samplesPerSecond,
                                                     double minimumTopSeconds,
                                                     double minimumStepCounts) {
    const std::size_t n = x.size();
    const auto minimumTop = std::max<std::size_t>(
        3, static_cast<std::size_t>(std::ceil(minimumTopSeconds * samplesPerSecond)));
    const auto baselineLength =
        std::max<std::size_t>(3, static_cast<std::size_t>(std::lround(0.05 * samplesPerSecond)));

    std::optional<CalibrationPulse> best;
    std::size_t bestTop = 0;
    for (std::size_t a = 2; a < n; ++a) {
        // The sample before the top may sit half way up a rise that straddles
        // two samples, so the step is taken over two.
        const double step = static_cast<double>(x[a]) - x[a - 2];
        if (step < minimumStepCounts || x[a] < x[a - 1]) {
            continue;
        }
        const double tolerance = std::max(2.0, 0.25 * step);
        std::size_t b = a + 1;
        while (b < n && std::abs(static_cast<double>(x[b]) - x[a]) <= tolerance) {
            ++b;
        }
        const std::size_t top = b - a;
        if (top < minimumTop || b >= n) {
            continue;  // too short, or still on top when the samples end
        }

        // The baseline before the rise is level too: a T wave rises out of a slope.
        const std::size_t from = a - 1 >= baselineLength ? a - 1 - baselineLength : 0;
        const auto before = x.subspan(from, a - 1 - from);
        const double baseline = median({before.begin(), before.end()});
        if (!std::ranges::all_of(
                before, [&](std::uint8_t v) { return std::abs(v - baseline) <= tolerance; })) {
            continue;
        }
        const Line line = fitLine(x.subspan(a, top));
        const double height = line.start - baseline;
        const double end = line.start + line.slope * static_cast<double>(top - 1);
        const double afterTop = b + 1 < n ? std::min(x[b], x[b + 1]) : x[b];
        // Both edges are steep: three quarters of the height within two samples.
        if (height < minimumStepCounts || step < 0.75 * height || afterTop > end - 0.75 * height) {
            continue;
        }
        if (top > bestTop || (top == bestTop && height > best->heightCounts)) {
            const double half = baseline + 0.5 * height;
            const double riseAt = crossing(static_cast<double>(a - 1), x[a - 1], x[a], half);
            const double fallAt = crossing(static_cast<double>(b - 1), x[b - 1], x[b], half);
            best = CalibrationPulse{baseline,
                                    height,
                                    (fallAt - riseAt) / samplesPerSecond,
                                    100.0 * (line.start - end) / height,
                                    a,
                                    b};
            bestTop = top;
        }
        a = b - 1;  // a later rise starts after this top
    }
    return best;
}

std::size_t countRailSamples(std::span<const std::uint8_t> samples) {
    return static_cast<std::size_t>(std::ranges::count_if(
        samples, [](std::uint8_t s) { return s == 0 || s >= protocol::kMaxSample; }));
}

}  // namespace vitalon::analysis
