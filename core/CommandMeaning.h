#pragma once

#include <string>
#include <string_view>

namespace vitalon {

// A module command with what it does, for a recording's annotations:
// "S2: 50/sec", "G2: Lead I", "C: Calibration pulse". A command the module
// does not know keeps its bytes, printable, with "unknown command".
std::string commandMeaning(std::string_view command);

}  // namespace vitalon
