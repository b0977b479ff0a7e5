#include "NotchFilter.h"

#include <cmath>
#include <numbers>

namespace vitalon::sim {

NotchFilter::NotchFilter(double sampleRate, double notchHz) : sampleRate_(sampleRate) {
    setFrequency(notchHz);
}

void NotchFilter::setFrequency(double notchHz) {
    notchHz_ = notchHz;
    const double c = std::cos(2.0 * std::numbers::pi * notchHz / sampleRate_);
    const double r = kPoleRadius;
    // H(z) = k (1 - 2c z^-1 + z^-2) / (1 - 2rc z^-1 + r^2 z^-2), H(1) = 1.
    const double k = (1.0 - 2.0 * r * c + r * r) / (2.0 - 2.0 * c);
    b0_ = k;
    b1_ = -2.0 * c * k;
    b2_ = k;
    a1_ = -2.0 * r * c;
    a2_ = r * r;
}

double NotchFilter::process(double x) {
    const double y = b0_ * x + s1_;
    s1_ = b1_ * x - a1_ * y + s2_;
    s2_ = b2_ * x - a2_ * y;
    return y;
}

void NotchFilter::reset() {
    s1_ = 0.0;
    s2_ = 0.0;
}

}  // namespace vitalon::sim
