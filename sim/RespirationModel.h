#pragma once

namespace vitalon::sim {

// The breathing curve as an impedance pneumogram shows it: a quick rise while
// the chest fills (a third of the cycle), a slower fall while it empties (two
// thirds). The phase runs from 0 at the start of inspiration to 1.
class RespirationModel {
public:
    explicit RespirationModel(double breathsPerMinute) : rate_(breathsPerMinute) {}

    void setRate(double breathsPerMinute) { rate_ = breathsPerMinute; }
    double rate() const { return rate_; }

    // Advances by `dt` seconds; true when a new breath (inspiration) begins.
    bool step(double dt);

    // The curve now, from -0.5 (end of expiration) to +0.5 (full inspiration).
    double value() const { return shape(phase_); }
    double phase() const { return phase_; }

    // The curve for a phase in [0, 1): raised-cosine rise and fall.
    static double shape(double phase);

    static constexpr double kInspirationShare = 1.0 / 3.0;

private:
    double rate_;
    double phase_ = 0.0;
};

}  // namespace vitalon::sim
