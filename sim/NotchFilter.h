#pragma once

namespace vitalon::sim {

// Second-order IIR notch: zeros on the unit circle at the mains frequency
// remove it completely, poles just inside (radius 0.97, about 6 Hz wide at
// 600 samples per second) keep the rest of the band, scaled to unit gain at DC
// so a 1 mV level stays 1 mV.
class NotchFilter {
public:
    NotchFilter(double sampleRate, double notchHz);

    // Moves the notch; the filter's memory is kept, as a real module's would be.
    void setFrequency(double notchHz);
    double frequency() const { return notchHz_; }

    double process(double x);
    void reset();

    static constexpr double kPoleRadius = 0.97;

private:
    double sampleRate_;
    double notchHz_ = 0.0;
    double b0_ = 1.0, b1_ = 0.0, b2_ = 1.0;
    double a1_ = 0.0, a2_ = 0.0;
    double s1_ = 0.0, s2_ = 0.0;  // transposed direct form II state
};

}  // namespace vitalon::sim
