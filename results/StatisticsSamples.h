#pragma once

#include <string>
#include <vector>

#include "CheckStatistics.h"
#include "ResultsStore.h"

namespace vitalon::results {

// The stored values of one check as the statistics take them, each dated by
// its station's clock; `unit` is the check's, which the values do not carry.
std::vector<CheckSample> checkSamplesOf(const std::vector<CheckValue>& values,
                                        const std::string& unit);
// The stored runs as the first-pass yield takes them.
std::vector<RunSample> runSamplesOf(const std::vector<RunRecord>& runs);

}  // namespace vitalon::results
