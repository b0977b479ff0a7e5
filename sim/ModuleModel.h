#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "CommandSplitter.h"
#include "Decimator.h"
#include "EcgModel.h"
#include "HeartRhythm.h"
#include "LineFaults.h"
#include "ModuleDefect.h"
#include "NotchFilter.h"
#include "Random.h"
#include "RateMeter.h"
#include "RespirationModel.h"
#include "Scenario.h"

namespace vitalon::sim {

enum class Curve { Ecg, Respiration };

// The module's settings as the host's commands left them; the defaults are the
// power-on state.
struct ModuleSettings {
    int samplesPerSecond = 100;  // S1 100, S2 50, S0 300
    int amplification = 1;       // A0, A1, A2
    int filterHz = 50;           // "5" 50 Hz, "6" 60 Hz
    bool simulation = false;     // "M" internal test signal, "N" the patient
    Lead lead = Lead::II;        // G2 lead I, G1 lead II, G0 lead III
    Curve curve = Curve::Ecg;    // D0 ECG, D1 respiration

    bool operator==(const ModuleSettings&) const = default;
};

struct ModuleCounters {
    std::uint64_t commands = 0;          // commands carried out
    std::uint64_t rejectedCommands = 0;  // well formed but no such setting, e.g. "S7"
    std::uint64_t unknownBytes = 0;      // bytes that start no command
    std::uint64_t abandonedLetters = 0;  // S, A, G or D not followed by a digit
    std::uint64_t silencedBytes = 0;     // not sent because the module was silent
    std::uint64_t lostBytes = 0;         // dropped by the line
    std::uint64_t corruptedBytes = 0;    // changed by the line
};

// Software model of the ECG acquisition module, with a simulated patient.
//
// The host feeds it command bytes (receive) and lets simulated time pass
// (advance), which returns what the module sends meanwhile. Nothing inside
// reads a clock or sleeps; the same scenario and seed give the same bytes for
// the same calls, however the time is cut into calls.
//
// Inside, everything runs at 600 ticks per second, a multiple of all three
// output rates:
//   patient: ECG heart vector (EcgModel) + noise + mains hum, or the internal
//            test signal in simulation mode, or the respiration curve;
//   -> mains notch (50 or 60 Hz) -> mean of 2, 6 or 12 ticks -> one sample byte:
//   128 + counts per millivolt x signal, clipped to 0..247.
// Between samples it sends reports, each as a marker byte immediately followed
// by its value: 250 pulse rate after each beat, 249 respiration rate after each
// breath, 251 status every 2 seconds and whenever the status changes (0 fine,
// 17 lead off). While a lead is off the line is flat at 128 and each status
// report comes after a pulse and a respiration report of 0. "C" sends a 1 mV
// rectangle of 0.2 s with 0.1 s of baseline before and after, in place of the
// signal (or, with the healthy variant CalibrationOnEcg, added to it). Simulation mode ("M") shows
// the internal test signal, 80 beats and 20 breaths a minute, without noise or hum, and ignores the
// electrodes.
//
// The scenario's defects make it a faulty module (see ModuleDefect); its
// healthy variants an awkward but sound one. They act
// on what the module sends; settings() still shows what the commands set, but
// for the command a module with IgnoresLeadCommand does not carry out.
class ModuleModel {
public:
    static constexpr int kInternalRate = 600;
    static constexpr std::uint8_t kBaseline = 128;
    static constexpr std::uint8_t kMaxSample = 247;
    static constexpr std::uint8_t kRespirationMarker = 249;
    static constexpr std::uint8_t kPulseMarker = 250;
    static constexpr std::uint8_t kStatusMarker = 251;
    static constexpr std::uint8_t kStatusOk = 0;
    static constexpr std::uint8_t kStatusLeadOff = 17;
    static constexpr double kStatusIntervalSeconds = 2.0;
    static constexpr double kTestHeartRate = 80.0;
    static constexpr double kTestRespirationRate = 20.0;
    static constexpr double kRespirationMillivolts = 1.5;  // peak to peak of the D1 curve
    static constexpr double kCalibrationMillivolts = 1.0;
    static constexpr double kCalibrationSeconds = 0.2;
    static constexpr double kCalibrationGuardSeconds = 0.1;  // flat input before and after
    static constexpr std::size_t kPulseIntervals = 4;        // beats averaged per pulse report
    static constexpr std::size_t kBreathIntervals = 2;

    // Counts per millivolt for amplification step 0, 1, 2: 20, 40, 80 (1 mV of
    // R wave spans a sixth, a third or two thirds of the 0..247 range).
    static int countsPerMillivolt(int amplification);

    explicit ModuleModel(Scenario scenario = {});

    // Command bytes from the host, in any chunking; they act at the current
    // simulated time.
    void receive(std::span<const std::uint8_t> bytes);
    void receive(std::string_view text);

    // Lets `dt` of simulated time pass and appends what the module sends
    // meanwhile to `out`. Time is kept in whole nanoseconds, so a run of calls
    // that add up to one second yields exactly one second's samples. A negative
    // or zero step sends nothing.
    void advance(std::chrono::nanoseconds dt, std::vector<std::uint8_t>& out);
    std::vector<std::uint8_t> advance(std::chrono::nanoseconds dt);
    std::vector<std::uint8_t> advance(double seconds);

    // Takes an electrode off the patient (true) or puts it back, as a technician
    // does to check the lead-off report; acts from the next tick on, in
    // addition to the scenario's lead-off span.
    void setLeadPulled(bool pulled) { leadPulled_ = pulled; }

    // Told of every command the module takes, before it acts on it.
    std::function<void(const Command&)> onCommand;

    std::chrono::nanoseconds elapsed() const { return elapsed_; }
    double elapsedSeconds() const;

    const ModuleSettings& settings() const { return settings_; }
    const Scenario& scenario() const { return scenario_; }
    ModuleCounters counters() const;
    std::uint8_t statusCode() const { return status_; }

    static constexpr double kRateFastFactor = 1.03;  // ModuleDefect::RateFast
    // ModuleDefect::RateSlow and RateSlightlyFast: 1.5 % off.
    static constexpr int kClockErrorPerTenThousand = 150;
    // ModuleDefect::PausesThenCatchesUp: one pause in every period, of 0.2,
    // 0.4, 0.6 and 0.8 s in turn, at the period's end.
    static constexpr double kPausePeriodSeconds = 4.7;
    static constexpr double kLongestPauseSeconds = 0.8;
    static constexpr double kLineBytesPerSecond = 960.0;  // 9600 baud, 10 bits a byte
    // One waveform byte in this many is changed: RareCorruptByte, CorruptLink.
    static constexpr std::uint32_t kRareCorruptionInterval = 20'000;
    static constexpr std::uint32_t kFrequentCorruptionInterval = 100;
    static constexpr int kPulseHighOffset = 15;             // ModuleDefect::PulseHigh
    static constexpr std::uint8_t kWrongPulse = 30;         // ModuleDefect::PulseTwoInFiveWrong
    static constexpr double kSlowStatusSeconds = 5.0;       // ModuleDefect::SlowStatus
    static constexpr double kWideCalibrationSeconds = 0.3;  // ModuleDefect::CalibrationWide
    static constexpr double kCalibrationDroop = 0.15;       // ModuleDefect::CalibrationDroops
    static constexpr double kLowEcgGain = 0.8;              // ModuleDefect::EcgGainLow
    static constexpr double kLeadINoiseCounts = 2.0;        // ModuleDefect::NoisyLeadI, rms
    static constexpr int kBaselineOffsetCounts = 16;        // ModuleDefect::BaselineOffset
    // ModuleDefect::NoisyLegElectrode, rms per tick: 2 counts at A1 once two
    // ticks are averaged into a sample at 300/s.
    static constexpr double kLegNoiseMillivolts = 0.0707;
    static constexpr double kBurstDelaySeconds = 2.0;  // ModuleDefect::CorruptBurst
    static constexpr std::size_t kBurstBytes = 64;

private:
    bool has(ModuleDefect defect) const { return scenario_.defects.has(defect); }
    // What the module shows, which its defects may keep from what was set.
    bool simulating() const { return settings_.simulation || stuckInSimulation_; }
    Curve shownCurve() const;
    std::uint8_t pulseByte(double rate);
    std::uint8_t respirationByte(double rate) const;
    std::uint64_t ticksDue() const;
    void apply(const Command& command);
    void tick(std::vector<std::uint8_t>& out);
    double signalMillivolts(bool leadOff);
    void emitReport(std::vector<std::uint8_t>& out, std::uint8_t marker, std::uint8_t value);
    void emitSample(std::vector<std::uint8_t>& out, double millivolts);
    void emitBurst(std::vector<std::uint8_t>& out);
    bool pausedAt(double seconds) const;
    void holdDuringPauses(std::vector<std::uint8_t>& out, std::size_t from,
                          std::chrono::nanoseconds dt);

    Scenario scenario_;
    ModuleSettings settings_;
    CommandSplitter splitter_;
    std::vector<Command> commands_;  // scratch, reused

    // The patient.
    EcgModel patientHeart_;
    RespirationModel patientBreathing_;
    HeartRhythm rhythm_;
    Random noise_;
    double humPhaseI_ = 0.0;
    double humPhaseII_ = 0.0;
    RateMeter patientPulse_;
    RateMeter patientBreaths_;
    bool leadWasOff_ = false;
    bool leadPulled_ = false;

    // The internal test signal of simulation mode.
    EcgModel testHeart_;
    RespirationModel testBreathing_;
    RateMeter testPulse_;
    RateMeter testBreaths_;

    // The signal path.
    NotchFilter notch_;
    Decimator decimator_;
    enum class Calibration { Idle, Pending, Running } calibration_ = Calibration::Idle;
    int calibrationTick_ = 0;

    std::uint8_t status_ = kStatusOk;
    std::uint64_t nextStatusTick_ = 0;
    bool silent_ = false;
    bool stuckInSimulation_ = false;      // ModuleDefect::StaysInSimulation after "M"
    std::uint64_t pulseReportsMade_ = 0;  // ModuleDefect::PulseTwoInFiveWrong
    LineFaults lineFaults_;
    Random burstBytes_;
    Random linkNoise_;  // which waveform bytes the link changes
    Random leadNoise_;  // ModuleDefect::NoisyLeadI
    std::uint64_t corruptedSamples_ = 0;
    std::vector<std::uint8_t> held_;          // made during a pause, not yet sent
    double lineBudget_ = 0.0;                 // bytes the line can carry now, after a pause
    std::optional<std::uint64_t> burstTick_;  // when the next corrupt burst goes out

    std::chrono::nanoseconds elapsed_{0};
    std::uint64_t ticks_ = 0;  // ticks done; tick k covers [k, k+1) / 600 s

    // The current tick's values of the electrode signals, for signalMillivolts.
    double leadI_ = 0.0;
    double leadII_ = 0.0;
    double respirationNoise_ = 0.0;

    ModuleCounters counters_;
};

}  // namespace vitalon::sim
