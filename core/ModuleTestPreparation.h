#pragma once

#include <QString>
#include <string>
#include <vector>

#include "TestLimits.h"

namespace vitalon {

// What the technician enters for one run, checked.
struct ModuleTestSetup {
    std::string serialNumber;
    std::string operatorName;
    std::string station;     // the test station's name for the report
    std::string limitsPath;  // absolute; empty: the built-in limits
    analysis::TestLimits limits;
    QString reportFolder;  // absolute
    // What the report must say about the run's worth (analysis::runNotices),
    // e.g. that it ran on the simulated module; set by the front end.
    std::vector<std::string> notices;
    // Why a serial number that already passed is tested again; stored with the run.
    std::string retestReason;
};

// The entries of a run as typed, in the dialog or on the command line.
struct ModuleTestEntries {
    std::string serialNumber;
    std::string operatorName;
    std::string limitsFile;    // empty: the built-in limits
    std::string reportFolder;  // must name a folder that can be written
    std::string station{};     // empty: defaultStationName()
};

// What is wrong with the entries, in the order they are checked.
enum class EntryProblem {
    None,
    NoSerialNumber,
    NoOperator,
    ControlCharacters,  // in the serial number or the operator's name
    UnusableLimits,
    UnusableReportFolder
};

struct PreparedModuleTest {
    ModuleTestSetup setup;  // complete only when problem is None
    EntryProblem problem = EntryProblem::None;
    QString message;  // the reason for the user, a sentence; empty when problem is None

    bool ok() const { return problem == EntryProblem::None; }
};

// The test station's name when none is given: the setting station/name of
// Vitalon's settings when it is not blank, otherwise the host name.
std::string defaultStationName();

// Checks the entries (surrounding blanks ignored) the same way for every
// front end: a serial number and an operator (neither with a control
// character, which a terminal would obey when it is echoed, nor in the station's
// name), a limits file that loads, a
// report folder that exists and can be written. The first problem found is
// returned; nothing is written.
PreparedModuleTest prepareModuleTest(const ModuleTestEntries& entries);

}  // namespace vitalon
