#pragma once

#include <QString>

#include "RunConditions.h"

namespace vitalon {

namespace results {
class ResultsStore;
}

class Station;

struct ModuleTestOptions {
    QString serialNumber;
    QString operatorName;
    QString limitsFile;    // empty: the built-in limits
    QString reportFolder;  // empty: the current directory
    // Checked by the caller before the port is prepared (commandLineRunProblem);
    // its notices go into the report and onto standard error.
    analysis::RunConditions conditions;
    // Why a serial number that passed before is tested again; needed then.
    QString retestReason = {};
    // The store the station files its runs in (Station::setResultsStore),
    // asked whether the serial number passed before; none: not asked.
    results::ResultsStore* resultsStore = nullptr;
    // The test station's name; empty: the setting station/name, else the host name.
    QString station = {};
};

// `vitalon --module-test`: the module test on a station without a window, for
// test stations. Checks the options, the limits file and the report folder,
// starts the link (scan, open, start commands), runs the test with progress
// on standard error and writes the report. Returns the exit code: 0 pass,
// 1 fail, 2 could not run (bad options, limits file or report folder, no
// port, no module answering, a serial number that passed before tested again
// without a retest reason, a pass whose report could not be written or that
// could not be filed in the results store), 130
// cancelled by SIGINT or SIGTERM after the module was restored; a second
// signal ends at once.
//
// A prompt (the optional lead-off check) is answered with Enter on standard
// input, which must then be a terminal: without one nobody could answer, so
// the run is refused before it starts rather than failed after minutes.
int runModuleTestFromCommandLine(Station& station, const ModuleTestOptions& options);

}  // namespace vitalon
