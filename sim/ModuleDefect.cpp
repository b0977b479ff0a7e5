#include "ModuleDefect.h"

#include <algorithm>
#include <array>

namespace vitalon::sim {

namespace {

constexpr std::array<ModuleDefectInfo, 10> kDefects = {{
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
