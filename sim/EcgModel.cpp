#include "EcgModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vitalon::sim {

namespace {

constexpr double kPi = std::numbers::pi;

// P, Q, R, S, T: angle on the cycle, amplitude and width, as published for
// ECGSYN. The widths and the outer angles are scaled with the heart rate.
constexpr std::array<double, 5> kAngle = {-kPi / 3.0, -kPi / 12.0, 0.0, kPi / 12.0, kPi / 2.0};
constexpr std::array<double, 5> kAxialAmplitude = {1.2, -5.0, 30.0, -7.5, 0.75};
constexpr std::array<double, 5> kWidth = {0.25, 0.1, 0.1, 0.1, 0.4};

// The component across the axis (+150 degrees). Its R is negative, so it
// points to -30 degrees: towards the positive pole of lead I and away from that
// of lead III. Lead I gets the taller R and the q, lead III the deeper S, as in
// a normal adult ECG with its axis near +60 degrees.
constexpr std::array<double, 5> kTransverseAmplitude = {-0.15, 1.0, -6.0, -3.0, -0.12};

// The angle difference wrapped into [-pi, pi).
double wrapAngle(double a) {
    a = std::fmod(a + kPi, 2.0 * kPi);
    if (a < 0.0) {
        a += 2.0 * kPi;
    }
    return a - kPi;
}

}  // namespace

double leadAngleDegrees(Lead lead) {
    switch (lead) {
        case Lead::I:
            return 0.0;
        case Lead::II:
            return 60.0;
        case Lead::III:
            return 120.0;
    }
    return 0.0;
}

double HeartVector::project(double angleDegrees) const {
    const double a = angleDegrees * kPi / 180.0;
    return x * std::cos(a) + y * std::sin(a);
}

HeartVector HeartVector::rotated(double degrees) const {
    const double a = degrees * kPi / 180.0;
    return {x * std::cos(a) - y * std::sin(a), x * std::sin(a) + y * std::cos(a)};
}

EcgModel::EcgModel(double beatsPerMinute) : EcgModel(beatsPerMinute, Unscaled{}) {
    unitsPerMillivolt_ = unitsPerMillivolt();
}

EcgModel::EcgModel(double beatsPerMinute, Unscaled)
    : state_{-1.0, 0.0, 0.0, 0.0}, omega_(0.0), waves_{}, unitsPerMillivolt_(1.0) {
    setBeat(60.0 / std::max(beatsPerMinute, 1.0), beatsPerMinute);
}

// The published model is dimensionless; its R wave peaks near 0.05 units. The
// scale comes from running the unscaled model at 60 per minute: two warm-up
// beats, then the highest point of the axial component over the third.
double EcgModel::measureUnitsPerMillivolt() {
    EcgModel raw(60.0, Unscaled{});
    const double dt = 1.0 / 600.0;
    double peak = 0.0;
    for (int i = 0; i < 3 * 600; ++i) {
        raw.step(dt, 0.0);
        if (i >= 2 * 600) {
            peak = std::max(peak, raw.state_.axial);
        }
    }
    return peak;
}

double EcgModel::unitsPerMillivolt() {
    static const double units = measureUnitsPerMillivolt();
    return units;
}

void EcgModel::setBeat(double intervalSeconds, double meanBeatsPerMinute) {
    omega_ = 2.0 * kPi / std::max(intervalSeconds, 0.05);
    const double rateFactor = std::sqrt(std::clamp(meanBeatsPerMinute, 10.0, 400.0) / 60.0);
    const double outerFactor = std::sqrt(rateFactor);
    const std::array<double, 5> angleFactor = {outerFactor, rateFactor, 1.0, rateFactor,
                                               outerFactor};
    for (std::size_t i = 0; i < 5; ++i) {
        waves_.angle[i] = kAngle[i] * angleFactor[i];
        waves_.width[i] = kWidth[i] * rateFactor;
    }
}

EcgModel::State EcgModel::derivative(const State& s, double baseline) const {
    const double alpha = 1.0 - std::sqrt(s.x * s.x + s.y * s.y);
    const double theta = std::atan2(s.y, s.x);
    double axialPush = 0.0;
    double transversePush = 0.0;
    for (std::size_t i = 0; i < 5; ++i) {
        const double d = wrapAngle(theta - waves_.angle[i]);
        const double w = waves_.width[i];
        const double g = d * std::exp(-0.5 * (d * d) / (w * w));
        axialPush += kAxialAmplitude[i] * g;
        transversePush += kTransverseAmplitude[i] * g;
    }
    return {alpha * s.x - omega_ * s.y, alpha * s.y + omega_ * s.x,
            -axialPush - (s.axial - baseline), -transversePush - s.transverse};
}

EcgModel::StepEvents EcgModel::step(double dt, double baselineMillivolts) {
    const double baseline = baselineMillivolts * unitsPerMillivolt_;
    const double before = phase();
    auto along = [](const State& s, const State& d, double h) {
        return State{s.x + h * d.x, s.y + h * d.y, s.axial + h * d.axial,
                     s.transverse + h * d.transverse};
    };
    const State k1 = derivative(state_, baseline);
    const State k2 = derivative(along(state_, k1, dt / 2.0), baseline);
    const State k3 = derivative(along(state_, k2, dt / 2.0), baseline);
    const State k4 = derivative(along(state_, k3, dt), baseline);
    state_.x += dt / 6.0 * (k1.x + 2.0 * k2.x + 2.0 * k3.x + k4.x);
    state_.y += dt / 6.0 * (k1.y + 2.0 * k2.y + 2.0 * k3.y + k4.y);
    state_.axial += dt / 6.0 * (k1.axial + 2.0 * k2.axial + 2.0 * k3.axial + k4.axial);
    state_.transverse +=
        dt / 6.0 * (k1.transverse + 2.0 * k2.transverse + 2.0 * k3.transverse + k4.transverse);

    const double after = phase();
    StepEvents events;
    // The angle only moves forwards and by far less than pi per step, so a jump
    // from positive to negative is the wrap at +-pi.
    events.beatStarted = before > 0.0 && after < 0.0 && before - after > kPi;
    events.rPeak = before < 0.0 && after >= 0.0 && after - before < kPi;
    return events;
}

HeartVector EcgModel::heartVector() const {
    const double scale = 1.0 / unitsPerMillivolt_;
    const double axial = state_.axial * scale;
    const double transverse = state_.transverse * scale;
    const double a = kAxisDegrees * kPi / 180.0;
    const double t = a + kPi / 2.0;
    return {axial * std::cos(a) + transverse * std::cos(t),
            axial * std::sin(a) + transverse * std::sin(t)};
}

double EcgModel::phase() const {
    return std::atan2(state_.y, state_.x);
}

}  // namespace vitalon::sim
