#include "SampleRateCounter.h"

#include <algorithm>

namespace vitalon::analysis {

SampleRateCounter::SampleRateCounter(double nominalPerSecond, double edgeSeconds)
    : nominal_(std::max(0.0, nominalPerSecond)), edge_(std::max(0.0, edgeSeconds)) {}

void SampleRateCounter::add(HostTime arrival, std::size_t samples) {
    if (!points_.empty() && arrival <= points_.back().arrival) {
        points_.back().count += samples;
        return;
    }
    const std::size_t before = points_.empty() ? 0 : points_.back().count;
    points_.push_back({arrival, before + samples});
}

double SampleRateCounter::spanSeconds() const {
    return points_.empty() ? 0.0 : secondsBetween(points_.front().arrival, points_.back().arrival);
}

SampleRateCounter::Window SampleRateCounter::window() const {
    if (points_.size() < 2) {
        return {};
    }
    const HostTime first = points_.front().arrival;
    const HostTime last = points_.back().arrival;
    // Each edge at most a quarter of the span, so that the two never meet.
    const double edge = std::min(edge_, spanSeconds() / 4.0);
    const auto advance = [&](const Point& p) {
        return static_cast<double>(p.count) - nominal_ * secondsBetween(first, p.arrival);
    };
    Window w{&points_.front(), &points_.back()};
    for (const Point& p : points_) {
        const double fromFirst = secondsBetween(first, p.arrival);
        if (fromFirst <= edge && advance(p) > advance(*w.from)) {
            w.from = &p;
        }
        if (secondsBetween(p.arrival, last) <= edge && advance(p) > advance(*w.to)) {
            w.to = &p;
        }
    }
    return w;
}

double SampleRateCounter::windowSeconds() const {
    const Window w = window();
    return w.from ? secondsBetween(w.from->arrival, w.to->arrival) : 0.0;
}

std::size_t SampleRateCounter::samplesInWindow() const {
    const Window w = window();
    return w.from ? w.to->count - w.from->count : 0;
}

std::optional<double> SampleRateCounter::samplesPerSecond() const {
    const Window w = window();
    if (!w.from) {
        return std::nullopt;
    }
    const double seconds = secondsBetween(w.from->arrival, w.to->arrival);
    if (seconds <= 0.0) {
        return std::nullopt;
    }
    return static_cast<double>(w.to->count - w.from->count) / seconds;
}

}  // namespace vitalon::analysis
