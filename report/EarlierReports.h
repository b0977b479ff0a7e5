#pragma once

#include <QString>
#include <string_view>

namespace vitalon::report {

// The attempt number a new test of `serialNumber` gets from the reports in
// `folder`: one more than the JSON reports of earlier runs there that name
// exactly this serial number (1 when there are none). Only files named like a
// report of that serial number are read; a file that is not a report of this
// program (another format, unreadable, cut short, larger than any report) is
// not counted.
int attemptFromReportFolder(const QString& folder, std::string_view serialNumber);

}  // namespace vitalon::report
