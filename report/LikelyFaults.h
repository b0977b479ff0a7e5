#pragma once

#include <string_view>

namespace vitalon::report {

// The fault a failed check most likely points to, as a short question for the
// technician at the bench, e.g. "leads I and III swapped?" for
// `leads.i.ratio`. Looked up by the check's identifier; a pattern's "*"
// stands for one dot-separated word ("cal.*.height" fits "cal.a2.height").
// Empty for an identifier the table does not know.
std::string_view likelyFault(std::string_view checkId);

}  // namespace vitalon::report
