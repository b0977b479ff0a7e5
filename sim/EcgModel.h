#pragma once

#include <array>

namespace vitalon::sim {

// The three limb leads. The module's lead command numbers them differently
// (G2 = I, G1 = II, G0 = III); this enum names them as a cardiologist would.
enum class Lead { I, II, III };

// Angle of a limb lead in the frontal plane, degrees: I 0, II +60, III +120.
double leadAngleDegrees(Lead lead);

// The cardiac dipole in the frontal plane, millivolts: x towards the left arm,
// y towards the feet (so angles grow clockwise, as on the hexaxial chart).
struct HeartVector {
    double x = 0.0;
    double y = 0.0;

    // The voltage a lead at this angle sees: the projection on its axis. Being
    // linear, it keeps Einthoven's law II = I + III exactly.
    double project(double angleDegrees) const;
    double lead(Lead which) const { return project(leadAngleDegrees(which)); }
    // The same heart turned by `degrees` (clockwise, as the angles grow).
    HeartVector rotated(double degrees) const;
};

// The dynamical ECG model of McSharry, Clifford, Tarassenko and Smith (2003):
// a point (x, y) runs round the unit limit cycle at the angular speed 2 pi / RR
// and every passage of the P, Q, R, S and T angles pushes z through a Gaussian
// event; z relaxes towards a slowly wandering baseline. It is integrated with
// fixed-step fourth-order Runge-Kutta.
//
// Two z components share the one limit cycle: the first lies along the mean
// electrical axis (+60 degrees, so lead II sees it fully), the second, a smaller
// and differently shaped copy, lies across it (+150 degrees). Together they
// form a heart vector whose projections give leads I, II and III.
//
// Amplitudes are scaled so that the R wave along the axis is 1 mV.
class EcgModel {
public:
    struct StepEvents {
        bool beatStarted = false;  // the cycle passed +-pi: pick the next beat's interval
        bool rPeak = false;        // the cycle passed the R angle
    };

    // Starts at the beginning of a beat (angle -pi) with the given interval.
    explicit EcgModel(double beatsPerMinute);

    // The interval of the beat being drawn, and the mean rate that sets the
    // widths and angles of its waves (faster hearts have narrower, closer waves
    // in time; the model stretches them in angle as ECGSYN does).
    void setBeat(double intervalSeconds, double meanBeatsPerMinute);

    // One Runge-Kutta step of `dt` seconds; `baselineMillivolts` is where z
    // relaxes to (respiratory baseline wander, 0 for none).
    StepEvents step(double dt, double baselineMillivolts);

    HeartVector heartVector() const;
    double phase() const;  // angle on the limit cycle, -pi..pi, R at 0

    static constexpr double kAxisDegrees = 60.0;
    // Where the R wave points: the axial R (+60 degrees) pulled towards -30 by
    // the transverse one, a fifth of its size: 60 - atan(1/5) in degrees.
    static constexpr double kRWaveAxisDegrees = 48.69;

private:
    struct Unscaled {};
    EcgModel(double beatsPerMinute, Unscaled);
    static double measureUnitsPerMillivolt();
    static double unitsPerMillivolt();

    struct State {
        double x;
        double y;
        double axial;
        double transverse;
    };
    struct Waves {
        std::array<double, 5> angle;
        std::array<double, 5> width;
    };

    State derivative(const State& s, double baseline) const;

    State state_;
    double omega_;
    Waves waves_;
    double unitsPerMillivolt_;  // model units per millivolt; 1 while measuring it
};

}  // namespace vitalon::sim
