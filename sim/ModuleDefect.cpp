#include "ModuleDefect.h"

#include <algorithm>
#include <array>

namespace vitalon::sim {

namespace {

constexpr std::array<ModuleDefectInfo, 28> kDefects = {{
    {ModuleDefect::RateFast, "rate-3-percent-fast", "sample rate 3 % above the set speed"},
    {ModuleDefect::Amplification2As1, "amplification-2-as-1",
     "amplification step 2 has the gain of step 1"},
    {ModuleDefect::LeadsSwapped, "leads-swapped", "leads I and III swapped"},
    {ModuleDefect::NoCalibration, "no-calibration", "no calibration pulse"},
    {ModuleDefect::StuckSample, "stuck-sample", "every sample stuck at 0"},
    {ModuleDefect::NoPulseReports, "no-pulse-reports", "no pulse reports"},
    {ModuleDefect::PulseHigh, "pulse-15-high", "pulse reports 15 per minute high"},
    {ModuleDefect::MainsFilterOff, "mains-filter-off", "mains filter does nothing"},
    {ModuleDefect::IgnoresLeadCommand, "ignores-lead-command", "the lead command G is ignored"},
    {ModuleDefect::CorruptBurst, "corrupt-burst",
     "a burst of corrupt bytes 2 s after each change of speed"},
    {ModuleDefect::RateSlow, "rate-1.5-percent-slow", "sample rate 1.5 % below the set speed"},
    {ModuleDefect::RateSlightlyFast, "rate-1.5-percent-fast",
     "sample rate 1.5 % above the set speed"},
    {ModuleDefect::CorruptLink, "corrupt-link", "the link changes one waveform byte in 100"},
    {ModuleDefect::StaysInSimulation, "stays-in-simulation",
     "stays in simulation mode after \"N\""},
    {ModuleDefect::IgnoresCurveCommand, "ignores-curve-command", "the curve command D is ignored"},
    {ModuleDefect::PulseTwoInFiveWrong, "pulse-2-in-5-wrong",
     "2 of every 5 pulse reports say 30 per minute"},
    {ModuleDefect::RespirationZero, "respiration-reports-zero", "every respiration report says 0"},
    {ModuleDefect::NoRespirationReports, "no-respiration-reports", "no respiration reports"},
    {ModuleDefect::SlowStatus, "status-every-5-s", "a status report every 5 s instead of 2 s"},
    {ModuleDefect::CalibrationWide, "calibration-0.3-s-wide",
     "the calibration rectangle lasts 0.3 s instead of 0.2 s"},
    {ModuleDefect::CalibrationDroops, "calibration-droops",
     "the calibration rectangle falls by 15 % along its top"},
    {ModuleDefect::EcgGainLow, "ecg-gain-20-percent-low",
     "the patient's ECG 20 % low, the calibration pulse right"},
    {ModuleDefect::NoisyLeadI, "noisy-lead-i", "2 counts rms of extra noise on lead I"},
    {ModuleDefect::BaselineOffset, "baseline-offset",
     "the output stands 16 counts above the mid-scale 128"},
    {ModuleDefect::NoisyLegElectrode, "noisy-leg-electrode",
     "noise on the left-leg input: 2 counts rms in leads II and III at 300/s and A1"},
    {ModuleDefect::PausesThenCatchesUp, "pauses-then-catches-up",
     "pauses for up to 0.8 s now and then, and sends its backlog at once (healthy)", true},
    {ModuleDefect::RareCorruptByte, "rare-corrupt-byte",
     "the link changes one waveform byte in 20,000 (healthy)", true},
    {ModuleDefect::CalibrationOnEcg, "calibration-on-ecg",
     "adds its calibration rectangle to the live ECG instead of switching the input to it "
     "(healthy)",
     true},
}};

}  // namespace

std::span<const ModuleDefectInfo> moduleDefects() {
    return kDefects;
}

std::optional<ModuleDefect> moduleDefectNamed(std::string_view name) {
    const auto it = std::ranges::find(kDefects, name, &ModuleDefectInfo::name);
    if (it == kDefects.end()) {
        return std::nullopt;
    }
    return it->defect;
}

std::string_view moduleDefectName(ModuleDefect defect) {
    const auto it = std::ranges::find(kDefects, defect, &ModuleDefectInfo::defect);
    return it == kDefects.end() ? std::string_view{} : it->name;
}

}  // namespace vitalon::sim
