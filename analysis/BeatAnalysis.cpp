#include "BeatAnalysis.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vitalon::analysis {

namespace {

std::size_t secondsToSamples(double seconds, double samplesPerSecond) {
    return static_cast<std::size_t>(std::max(0L, std::lround(seconds * samplesPerSecond)));
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    const auto middle = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The samples less their mean over +-half samples.
std::vector<double> highPassed(std::span<const std::uint8_t> x, std::size_t half) {
    const std::size_t n = x.size();
    std::vector<double> prefix(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        prefix[i + 1] = prefix[i] + x[i];
    }
    std::vector<double> h(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = i >= half ? i - half : 0;
        const std::size_t hi = std::min(n, i + half + 1);
        h[i] = x[i] - (prefix[hi] - prefix[lo]) / static_cast<double>(hi - lo);
    }
    return h;
}

}  // namespace

std::optional<double> Beats::heartRate() const {
    if (rWaves.size() < 2 || samplesPerSecond <= 0.0) {
        return std::nullopt;
    }
    const auto span = static_cast<double>(rWaves.back() - rWaves.front());
    return 60.0 * static_cast<double>(rWaves.size() - 1) * samplesPerSecond / span;
}

std::optional<double> Beats::largestIntervalDeviationPercent() const {
    if (rWaves.size() < 3) {
        return std::nullopt;
    }
    const double mean = static_cast<double>(rWaves.back() - rWaves.front()) /
                        static_cast<double>(rWaves.size() - 1);
    double largest = 0.0;
    for (std::size_t i = 1; i < rWaves.size(); ++i) {
        const auto interval = static_cast<double>(rWaves[i] - rWaves[i - 1]);
        largest = std::max(largest, std::abs(interval - mean));
    }
    return 100.0 * largest / mean;
}

Beats detectBeats(std::span<const std::uint8_t> x, double samplesPerSecond, double minimumCounts) {
    Beats beats;
    beats.samplesPerSecond = samplesPerSecond;
    const std::size_t n = x.size();
    if (n < 3 || samplesPerSecond <= 0.0) {
        return beats;
    }
    const std::vector<double> h =
        highPassed(x, std::max<std::size_t>(1, secondsToSamples(0.1, samplesPerSecond)));

    const std::size_t block = std::max<std::size_t>(1, secondsToSamples(2.0, samplesPerSecond));
    std::vector<double> blockMaxima;
    for (std::size_t from = 0; from < n; from += block) {
        const std::size_t to = std::min(n, from + block);
        if (to - from < block && !blockMaxima.empty()) {
            break;  // a short last block could miss its beat
        }
        double top = 0.0;
        for (std::size_t i = from; i < to; ++i) {
            top = std::max(top, std::abs(h[i]));
        }
        blockMaxima.push_back(top);
    }
    const double threshold = std::max(minimumCounts, 0.5 * median(blockMaxima));

    const std::size_t refractory =
        std::max<std::size_t>(1, secondsToSamples(0.25, samplesPerSecond));
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::abs(h[i]) <= threshold) {
            continue;
        }
        std::size_t peak = i;
        for (std::size_t j = i; j < std::min(n, i + refractory); ++j) {
            if (std::abs(h[j]) > std::abs(h[peak])) {
                peak = j;
            }
        }
        found.push_back(peak);
        i = peak + refractory - 1;
    }

    double polarity = 0.0;
    for (std::size_t peak : found) {
        polarity += h[peak] >= 0.0 ? 1.0 : -1.0;
    }
    const double sign = polarity >= 0.0 ? 1.0 : -1.0;
    const std::size_t reach = secondsToSamples(0.06, samplesPerSecond);
    for (std::size_t peak : found) {
        const std::size_t lo = peak >= reach ? peak - reach : 0;
        const std::size_t hi = std::min(n, peak + reach + 1);
        std::size_t r = lo;
        for (std::size_t j = lo; j < hi; ++j) {
            if (sign * h[j] > sign * h[r]) {
                r = j;
            }
        }
        if (beats.rWaves.empty() || r >= beats.rWaves.back() + refractory) {
            beats.rWaves.push_back(r);
        }
    }
    return beats;
}

double AveragedBeat::rAmplitude() const {
    if (samples.empty()) {
        return 0.0;
    }
    const std::size_t reach = secondsToSamples(0.06, samplesPerSecond);
    const std::size_t lo = rIndex >= reach ? rIndex - reach : 0;
    const std::size_t hi = std::min(samples.size(), rIndex + reach + 1);
    return *std::max_element(samples.begin() + static_cast<long>(lo),
                             samples.begin() + static_cast<long>(hi));
}

double AveragedBeat::rWave() const {
    return rIndex < samples.size() ? samples[rIndex] : 0.0;
}

AveragedBeat averageBeats(std::span<const std::uint8_t> x, const Beats& beats, double beforeSeconds,
                          double afterSeconds) {
    AveragedBeat average;
    average.samplesPerSecond = beats.samplesPerSecond;
    const std::size_t before = secondsToSamples(beforeSeconds, beats.samplesPerSecond);
    const std::size_t after = secondsToSamples(afterSeconds, beats.samplesPerSecond);
    std::vector<double> sum(before + after + 1, 0.0);
    for (std::size_t r : beats.rWaves) {
        if (r < before || r + after >= x.size()) {
            continue;
        }
        for (std::size_t i = 0; i < sum.size(); ++i) {
            sum[i] += x[r - before + i];
        }
        ++average.beats;
    }
    if (average.beats == 0) {
        return average;
    }
    for (double& s : sum) {
        s /= static_cast<double>(average.beats);
    }
    const double level = median(sum);
    for (double& s : sum) {
        s -= level;
    }
    average.samples = std::move(sum);
    average.rIndex = before;
    return average;
}

std::optional<EinthovenFit> fitEinthoven(const AveragedBeat& leadI, const AveragedBeat& leadII,
                                         const AveragedBeat& leadIII) {
    const AveragedBeat* leads[] = {&leadI, &leadII, &leadIII};
    for (const AveragedBeat* lead : leads) {
        if (lead->samples.empty() || lead->samples.size() != leadII.samples.size() ||
            lead->rIndex != leadII.rIndex) {
            return std::nullopt;
        }
    }
    const auto& one = leadI.samples;
    const auto& two = leadII.samples;
    const auto& three = leadIII.samples;
    const auto maxShift = static_cast<long>(secondsToSamples(0.02, leadII.samplesPerSecond));
    const auto n = static_cast<long>(two.size());
    if (n <= 2 * maxShift + 2) {
        return std::nullopt;
    }
    const auto count = static_cast<double>(n - 2 * maxShift);
    // The residual is taken relative to the largest lead: lead II is the
    // largest near an axis of +60 degrees, lead I near 0 and lead III near
    // +120, where lead II may be small.
    double largestRms = 0.0;
    for (const AveragedBeat* lead : leads) {
        double sum = 0.0, squares = 0.0;
        for (long i = maxShift; i < n - maxShift; ++i) {
            const double v = lead->samples[static_cast<std::size_t>(i)];
            sum += v;
            squares += v * v;
        }
        const double mean = sum / count;
        largestRms = std::max(largestRms, std::sqrt(std::max(0.0, squares / count - mean * mean)));
    }
    if (largestRms <= 0.0) {
        return std::nullopt;
    }

    EinthovenFit best{std::numeric_limits<double>::infinity(), 0, 0};
    for (long sI = -maxShift; sI <= maxShift; ++sI) {
        for (long sIII = -maxShift; sIII <= maxShift; ++sIII) {
            double sum = 0.0, sumSquares = 0.0;
            for (long i = maxShift; i < n - maxShift; ++i) {
                const double d = two[static_cast<std::size_t>(i)] -
                                 one[static_cast<std::size_t>(i + sI)] -
                                 three[static_cast<std::size_t>(i + sIII)];
                sum += d;
                sumSquares += d * d;
            }
            const double mean = sum / count;
            const double rms = std::sqrt(std::max(0.0, sumSquares / count - mean * mean));
            const double percent = 100.0 * rms / largestRms;
            if (percent < best.residualPercent) {
                best = {percent, static_cast<int>(sI), static_cast<int>(sIII)};
            }
        }
    }
    return best;
}

}  // namespace vitalon::analysis
