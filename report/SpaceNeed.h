#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "TestLimits.h"

namespace vitalon::report {

// What one module test run writes into the report folder, estimated from its
// limits before it starts: the EDF+ recording at the fastest speed the test
// sets, for the longest the steps may take, and the three report files.
struct SpaceNeed {
    double seconds = 0.0;  // the run's length, generously
    std::uint64_t recordingBytes = 0;
    std::uint64_t reportBytes = 0;
    std::uint64_t largestFileBytes = 0;  // what one file may reach

    std::uint64_t totalBytes() const { return recordingBytes + reportBytes; }
};

SpaceNeed estimateSpaceNeed(const analysis::TestLimits& limits);

// Why a run cannot start in `folder` with `freeBytes` available to the
// program there and a per-file size limit `fileSizeLimit` (nothing: unknown or
// unlimited), with the figures; empty when it fits.
std::string spaceProblem(const SpaceNeed& need, const std::string& folder,
                         std::optional<std::uint64_t> freeBytes,
                         std::optional<std::uint64_t> fileSizeLimit);

}  // namespace vitalon::report
