#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

namespace vitalon::sim {

// Faults a module can have. The model can carry any of them, so that an
// acceptance test can be shown to catch each one.
enum class ModuleDefect : std::uint8_t {
    RateFast,              // the module's clock, and so every rate, runs 3 % fast
    Amplification2As1,     // A2 gives the gain of A1
    LeadsSwapped,          // G2 shows lead III and G0 lead I
    NoCalibration,         // "C" sends no rectangle
    StuckSample,           // every sample reads 0, whatever the input
    NoPulseReports,        // no pulse report is ever sent
    PulseHigh,             // pulse reports are 15 per minute above the measured rate
    MainsFilterOff,        // the mains filter lets everything through
    IgnoresLeadCommand,    // the lead command G is taken but does nothing
    CorruptBurst,          // 2 s after each change of speed, a burst of random bytes
    RateSlow,              // the module's clock runs 1.5 % slow
    RateSlightlyFast,      // the module's clock runs 1.5 % fast
    CorruptLink,           // the link changes one waveform byte in 100
    StaysInSimulation,     // "N" does not bring the patient back after "M"
    IgnoresCurveCommand,   // the curve command D is taken but does nothing
    PulseTwoInFiveWrong,   // 2 of every 5 pulse reports say 30 per minute
    RespirationZero,       // every respiration report says 0
    NoRespirationReports,  // no respiration report is ever sent
    SlowStatus,            // a status report every 5 s instead of every 2 s
    CalibrationWide,       // the calibration rectangle lasts 0.3 s instead of 0.2 s
    CalibrationDroops,     // the calibration rectangle falls by 15 % along its top
    EcgGainLow,            // the patient's ECG comes through 20 % low; the calibration does not
    NoisyLeadI,            // lead I carries 2 counts rms of extra noise
    BaselineOffset,        // every sample stands 16 counts above the mid-scale 128
    NoisyLegElectrode,     // the left-leg input carries noise: leads II and III show it
    // Healthy variants: awkward, but nothing a module test may fail.
    PausesThenCatchesUp,  // sends nothing for up to 0.8 s, then its backlog at once
    RareCorruptByte,      // the link changes one waveform byte in 20,000
    CalibrationOnEcg,     // "C" adds its rectangle to the live ECG, as classic recorders do
};

struct ModuleDefectInfo {
    ModuleDefect defect;
    std::string_view name;  // as a command line names it, e.g. "leads-swapped"
    std::string_view description;
    // A variant of a sound module or line that a test must pass, not a fault.
    bool healthy = false;
};

// Every defect, in the order above.
std::span<const ModuleDefectInfo> moduleDefects();
std::optional<ModuleDefect> moduleDefectNamed(std::string_view name);
std::string_view moduleDefectName(ModuleDefect defect);

// A set of defects; empty for a healthy module.
class ModuleDefects {
public:
    ModuleDefects() = default;
    ModuleDefects(std::initializer_list<ModuleDefect> defects) {
        for (ModuleDefect d : defects) {
            add(d);
        }
    }

    void add(ModuleDefect defect) { bits_ |= bit(defect); }
    bool has(ModuleDefect defect) const { return (bits_ & bit(defect)) != 0; }
    bool empty() const { return bits_ == 0; }

    bool operator==(const ModuleDefects&) const = default;

private:
    static std::uint32_t bit(ModuleDefect defect) {
        return std::uint32_t{1} << static_cast<unsigned>(defect);
    }
    std::uint32_t bits_ = 0;
};

}  // namespace vitalon::sim
