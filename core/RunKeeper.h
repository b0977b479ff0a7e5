#pragma once

#include <optional>
#include <string>

#include "ReportWriter.h"
#include "ResultsStore.h"
#include "TestReport.h"

namespace vitalon {

// The attempt number a new run of `serialNumber` gets: one more than the runs
// of it the store holds. Nothing when the store cannot answer.
std::optional<int> storedAttempt(results::ResultsStore& store, const std::string& serialNumber);

// Whether a run of `serialNumber` passed before. A run on a simulated module
// or under demonstration limits proves nothing about a module and does not
// count. The error says why the store could not answer.
results::Answer<bool> passedBefore(results::ResultsStore& store, const std::string& serialNumber);

// Files a finished run with its checks and its report files (with their
// SHA-256) in the store, in one transaction. Empty on success (also when the
// run was stored before), else why it is not stored.
std::string keepRun(results::ResultsStore& store, const report::TestReport& report,
                    const report::ReportWriteResult& files, const std::string& retestReason);

}  // namespace vitalon
