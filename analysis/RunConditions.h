#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vitalon::analysis {

// What a module test runs against and with which limits, as far as its
// result can be trusted: a verdict on a simulated module or a replayed
// recording says nothing about a module, and the built-in limits describe the
// module model, not a production module.
struct RunConditions {
    bool simulatedModule = false;  // the simulated module or a replay serves the port
    bool demonstration = false;    // the user asked for a demonstration run
    bool production = false;       // a production run: a real module and a limits file only
    bool builtInLimits = false;    // no limits file was given
};

inline constexpr std::string_view kSimulatedModuleNotice = "simulated module, not a module result";
inline constexpr std::string_view kDemonstrationLimitsNotice =
    "demonstration limits, not a production result";

// Why `vitalon --module-test` must not start under these conditions, naming
// the options; empty when it may. A simulated module needs --demonstration; a
// production run refuses a simulated module, --demonstration and the built-in
// limits, so that its exit code can never be 0 without a module and limits.
std::string commandLineRunProblem(const RunConditions& conditions);

// What every report page, the JSON file and the terminal must say about a run
// under these conditions; empty for a production-grade run.
std::vector<std::string> runNotices(const RunConditions& conditions);

// `text` with every control character (C0, DEL, and C1 as UTF-8) written as
// \xHH, and a backslash as \\, so that a typed field printed to a terminal
// cannot move the cursor, change colours or hide what follows.
std::string printable(std::string_view text);

// Why `text`, typed as `what` (e.g. "serial number"), cannot name a module or
// a person: it contains a control character. Empty when it can.
std::string typedTextProblem(std::string_view what, std::string_view text);

}  // namespace vitalon::analysis
