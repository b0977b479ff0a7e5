#include "CalibrationPulse.h"

#include <algorithm>
#include <cmath>
#include <functional>

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

// A straight line fitted to samples [from, to): its value at an index, its
// slope per sample and the rms distance of the samples from it.
struct Line {
    double at0 = 0.0;  // value at index 0 of the whole run
    double slope = 0.0;
    double residual = 0.0;
    double at(double index) const { return at0 + slope * index; }
};

Line fitLine(std::span<const std::uint8_t> x, std::size_t from, std::size_t to) {
    const auto n = static_cast<double>(to - from);
    double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        const auto t = static_cast<double>(i);
        sx += t;
        sy += x[i];
        sxx += t * t;
        sxy += t * x[i];
    }
    const double denominator = n * sxx - sx * sx;
    Line line;
    line.slope = denominator > 0.0 ? (n * sxy - sx * sy) / denominator : 0.0;
    line.at0 = (sy - line.slope * sx) / n;
    double squares = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        const double d = x[i] - line.at(static_cast<double>(i));
        squares += d * d;
    }
    line.residual = std::sqrt(squares / n);
    return line;
}

// The lines either side of an edge whose last sample before it is `before`
// and first sample after it is `after`; each spans up to `reach` samples but
// not past `low` and `high`.
struct Edge {
    Line left;
    Line right;
    double step = 0.0;  // right minus left, at the middle of the edge
    bool clean = false;
};

Edge measureEdge(std::span<const std::uint8_t> x, std::size_t before, std::size_t after,
                 std::size_t reach, std::size_t low, std::size_t high, double tolerance) {
    const std::size_t leftFrom = before + 1 >= low + reach ? before + 1 - reach : low;
    const std::size_t rightTo = std::min(high, after + reach);
    Edge edge;
    edge.left = fitLine(x, leftFrom, before + 1);
    edge.right = fitLine(x, after, rightTo);
    const double middle = 0.5 * static_cast<double>(before + after);
    edge.step = edge.right.at(middle) - edge.left.at(middle);
    // Clean: the samples lie on the lines, and neither line is as steep as
    // beside a QRS complex (a tenth of the step per sample), whose curve the
    // lines would carry into the step. P and T waves are far slower.
    const double steep = 0.1 * std::abs(edge.step);
    edge.clean = edge.left.residual <= tolerance && edge.right.residual <= tolerance &&
                 std::abs(edge.left.slope) <= steep && std::abs(edge.right.slope) <= steep;
    return edge;
}

}  // namespace

namespace {

// The rectangles found from their rises.
std::vector<CalibrationPulse> findFromRises(std::span<const std::uint8_t> x,
                                            double samplesPerSecond, double minimumTopSeconds,
                                            double minimumStepCounts) {
    std::vector<CalibrationPulse> pulses;
    const std::size_t n = x.size();
    if (n < 6 || samplesPerSecond <= 0.0) {
        return pulses;
    }
    const auto minimumTop = std::max<std::size_t>(
        3, static_cast<std::size_t>(std::ceil(minimumTopSeconds * samplesPerSecond)));
    const auto maximumTop = static_cast<std::size_t>(std::ceil(0.5 * samplesPerSecond));
    const auto reach =
        std::max<std::size_t>(4, static_cast<std::size_t>(std::lround(0.02 * samplesPerSecond)));
    // The change over two samples, the edge's own, against the change over the
    // lines either side: a steep edge makes three quarters of it.
    const auto step2 = [&](std::size_t i) { return static_cast<double>(x[i]) - x[i - 2]; };
    const auto wide = [&](std::size_t i) {
        const std::size_t lo = i >= 2 + reach ? i - 2 - reach : 0;
        const std::size_t hi = std::min(n - 1, i + reach);
        return static_cast<double>(x[hi]) - x[lo];
    };
    // Or twice the steps of the samples beside it: a QRS complex next to the
    // edge adds to the wider change, but changes slower than the edge.
    const auto steep = [&](std::size_t i, double step) {
        const double beside = std::max(i >= 4 ? std::abs(step2(i - 2)) : 0.0,
                                       i + 2 < n ? std::abs(step2(i + 2)) : 0.0);
        return std::abs(step) >= 0.75 * std::abs(wide(i)) || std::abs(step) >= 2.0 * beside;
    };

    // Rises: local largest steps over two samples, so that a sample half way
    // up an edge that straddles two is left out of both lines. The largest are
    // tried first; a smaller one within a rectangle already found is not one.
    std::vector<std::size_t> rises;
    for (std::size_t a = 2; a + 1 < n; ++a) {
        const double up = step2(a);
        if (up >= minimumStepCounts && step2(a + 1) <= up && (a == 2 || step2(a - 1) < up) &&
            steep(a, up)) {
            rises.push_back(a);
        }
    }
    std::ranges::stable_sort(rises, std::greater<>(), step2);
    for (const std::size_t a : rises) {
        const double up = step2(a);
        const double level = x[a - 2] + 0.5 * up;
        // The top ends at the first sample below half the rise; the fall is
        // the largest two-sample step around there.
        std::size_t end = a + 1;
        while (end < n && end - a <= maximumTop && x[end] >= level) {
            ++end;
        }
        if (end >= n || end - a > maximumTop) {
            continue;  // still on top when the samples end, or no top at all
        }
        // A QRS complex at the fall may carry the signal below half the rise
        // a few samples after the fall proper: its largest step is looked
        // for a little before too.
        std::size_t b = end;
        const std::size_t from = std::max(a + 3, end >= reach ? end - reach : 0);
        for (std::size_t i = from; i <= std::min(n - 1, end + 1); ++i) {
            if (-step2(i) > -step2(b)) {
                b = i;
            }
        }
        const double down = -step2(b);
        if (b - 1 - a < minimumTop || down < minimumStepCounts || down < 0.6 * up ||
            up < 0.6 * down || !steep(b, down)) {
            continue;
        }
        // Nothing on the top steps much further than the edges do: the R wave
        // of a live ECG under the rectangle is no steeper than they are (as
        // steep at 100 a second), while a stretch between two beats of a plain
        // ECG holds the next R wave, far taller than the small steps around it.
        bool steady = true;
        for (std::size_t i = a + 2; i + 2 < b; ++i) {
            steady = steady && std::abs(step2(i)) <= 1.5 * std::max(up, down);
        }
        const bool overlaps = std::ranges::any_of(
            pulses, [&](const CalibrationPulse& p) { return a <= p.fall + 2 && b + 2 >= p.rise; });
        if (!steady || overlaps) {
            continue;
        }

        const double tolerance = std::max(1.0, 0.05 * up);
        const Edge rise = measureEdge(x, a - 2, a, reach, 0, b - 1, tolerance);
        const Edge fall = measureEdge(x, b - 2, b, reach, a, n, tolerance);
        CalibrationPulse pulse;
        pulse.baseline = rise.left.at(static_cast<double>(a - 1));
        pulse.heightCounts = rise.step;
        pulse.fallCounts = -fall.step;
        pulse.riseClean = rise.clean;
        pulse.fallClean = fall.clean;
        if (pulse.heightCounts < minimumStepCounts) {
            continue;
        }
        // Width between the half-height crossings of both edges.
        const double riseHalf = pulse.baseline + 0.5 * pulse.heightCounts;
        double riseAt = static_cast<double>(a) - 0.5;
        for (std::size_t i = a - 2; i < a; ++i) {
            if (x[i] < riseHalf && x[i + 1] >= riseHalf) {
                riseAt = crossing(static_cast<double>(i), x[i], x[i + 1], riseHalf);
            }
        }
        const double fallHalf = fall.right.at(static_cast<double>(b - 1)) - 0.5 * fall.step;
        double fallAt = static_cast<double>(b) - 0.5;
        for (std::size_t i = b - 2; i < b; ++i) {
            if (x[i] >= fallHalf && x[i + 1] < fallHalf) {
                fallAt = crossing(static_cast<double>(i), x[i], x[i + 1], fallHalf);
            }
        }
        pulse.widthSeconds = (fallAt - riseAt) / samplesPerSecond;
        // Droop. A module that switches its input to the reference shows it
        // with flat input on both sides: the droop is then the top's own fall,
        // which an AC-coupled input makes. Where the rectangle rides on the
        // live ECG the top carries P, QRS and T waves, and the droop is the
        // difference of the two edges instead.
        const auto guardLength = std::max<std::size_t>(
            reach, static_cast<std::size_t>(std::lround(0.05 * samplesPerSecond)));
        const Line before = fitLine(x, a - 1 >= guardLength ? a - 1 - guardLength : 0, a - 1);
        const Line after = fitLine(x, b, std::min(n, b + guardLength));
        const double flat = std::max(1.0, 0.02 * up);
        const Line top = fitLine(x, a, b - 1);
        const auto topSamples = static_cast<double>(b - 2 - a);
        const bool guarded = before.residual <= flat && after.residual <= flat &&
                             top.residual <= std::max(1.0, 0.05 * up) &&
                             std::abs(before.slope) * topSamples <= std::max(flat, 0.1 * up);
        pulse.onLiveEcg = !guarded;
        if (guarded) {
            pulse.droopPercent = 100.0 * -top.slope * topSamples / pulse.heightCounts;
        } else {
            pulse.droopPercent =
                100.0 * (pulse.heightCounts - pulse.fallCounts) / pulse.heightCounts;
        }
        pulse.rise = a;
        pulse.fall = b;
        pulses.push_back(pulse);
    }
    std::ranges::sort(pulses, {}, &CalibrationPulse::rise);
    return pulses;
}

}  // namespace

// A QRS complex on the rise can hide it where the fall is plain: the samples
// are searched backwards too, where the fall is a rise, and a rectangle found
// only that way joins the others, measured forwards.
std::vector<CalibrationPulse> findCalibrationPulses(std::span<const std::uint8_t> x,
                                                    double samplesPerSecond,
                                                    double minimumTopSeconds,
                                                    double minimumStepCounts) {
    std::vector<CalibrationPulse> pulses =
        findFromRises(x, samplesPerSecond, minimumTopSeconds, minimumStepCounts);
    const std::vector<std::uint8_t> reversed(x.rbegin(), x.rend());
    const std::size_t n = x.size();
    for (const CalibrationPulse& back :
         findFromRises(reversed, samplesPerSecond, minimumTopSeconds, minimumStepCounts)) {
        // Its top runs from n - back.fall to n - 1 - back.rise forwards.
        const std::size_t rise = n - back.fall;
        const std::size_t fall = n - back.rise;
        const bool known = std::ranges::any_of(pulses, [&](const CalibrationPulse& p) {
            return rise <= p.fall + 2 && fall + 2 >= p.rise;
        });
        if (known) {
            continue;
        }
        CalibrationPulse p = back;
        p.rise = rise;
        p.fall = fall;
        // Forwards its rise is the backward fall, and the other way round.
        p.heightCounts = back.fallCounts;
        p.fallCounts = back.heightCounts;
        p.riseClean = back.fallClean;
        p.fallClean = back.riseClean;
        p.baseline = back.baseline;  // the level beside the edge found first
        p.droopPercent = 100.0 * (p.heightCounts - p.fallCounts) / p.heightCounts;
        p.onLiveEcg = true;  // a plain rectangle is found forwards
        pulses.push_back(p);
    }
    std::ranges::sort(pulses, {}, &CalibrationPulse::rise);
    return pulses;
}

std::optional<CalibrationPulse> findCalibrationPulse(std::span<const std::uint8_t> x,
                                                     double samplesPerSecond,
                                                     double minimumTopSeconds,
                                                     double minimumStepCounts) {
    const auto pulses =
        findCalibrationPulses(x, samplesPerSecond, minimumTopSeconds, minimumStepCounts);
    if (pulses.empty()) {
        return std::nullopt;
    }
    return *std::ranges::max_element(pulses, {}, [](const CalibrationPulse& p) {
        return std::pair(p.fall - p.rise, p.heightCounts);
    });
}

std::optional<double> calibrationHeight(std::span<const CalibrationPulse> pulses) {
    std::vector<double> clean;
    std::vector<double> all;
    for (const CalibrationPulse& p : pulses) {
        all.push_back(p.heightCounts);
        all.push_back(p.fallCounts);
        if (p.riseClean) {
            clean.push_back(p.heightCounts);
        }
        if (p.fallClean) {
            clean.push_back(p.fallCounts);
        }
    }
    if (all.empty()) {
        return std::nullopt;
    }
    // An even count takes the mean of the middle two.
    const auto middle = [](std::vector<double> v) {
        std::ranges::sort(v);
        const std::size_t m = v.size() / 2;
        return v.size() % 2 == 1 ? v[m] : 0.5 * (v[m - 1] + v[m]);
    };
    return middle(clean.empty() ? all : clean);
}

std::optional<double> levelBesidePulses(std::span<const std::uint8_t> x,
                                        std::span<const CalibrationPulse> pulses,
                                        double samplesPerSecond) {
    const auto guard = static_cast<std::size_t>(std::lround(0.05 * samplesPerSecond));
    std::vector<double> outside;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const bool inPulse = std::ranges::any_of(pulses, [&](const CalibrationPulse& p) {
            return i + guard >= p.rise && i <= p.fall + guard;
        });
        if (!inPulse) {
            outside.push_back(x[i]);
        }
    }
    if (outside.empty()) {
        return std::nullopt;
    }
    return median(std::move(outside));
}

std::size_t countRailSamples(std::span<const std::uint8_t> samples) {
    return static_cast<std::size_t>(std::ranges::count_if(
        samples, [](std::uint8_t s) { return s == 0 || s >= protocol::kMaxSample; }));
}

}  // namespace vitalon::analysis
