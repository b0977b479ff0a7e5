#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ModuleTestRunner.h"

namespace vitalon::report {

// The serial port a module was tested on and the adapter behind it, as far
// as the system tells.
struct PortFacts {
    std::string name;    // "COM1"; empty: no port
    std::string device;  // "/dev/ttyUSB0"
    bool usb = false;    // the numbers below are known only for a USB adapter
    std::uint16_t usbVendorId = 0;
    std::uint16_t usbProductId = 0;
    std::string adapterSerialNumber;  // empty: none or not known
    std::string manufacturer;         // e.g. "FTDI"; may be empty
    std::string description;          // e.g. "FT232R USB UART"; may be empty
};

// One file the run recorded, with the SHA-256 of its contents once closed.
struct RecordedFile {
    std::string name;    // the file's name in the report folder
    std::string sha256;  // 64 lowercase hex digits; empty: it could not be read
};

// What the report says about the run besides the measurements: who tested
// which module where, when, with which program, port and limits.
struct RunFacts {
    std::string serialNumber;
    std::string operatorName;
    std::string station;   // the test station's name (a setting; by default the host name)
    std::string hostName;  // the machine the program ran on
    std::chrono::system_clock::time_point startedAt;
    std::optional<std::chrono::system_clock::time_point> endedAt;  // none: did not end
    // The station's time zone as an IANA id ("Europe/Berlin"), in which the
    // reports show the times; empty: the system's zone at rendering.
    std::string timeZone;
    std::string vitalonVersion;
    std::string buildCommit;  // the commit it was built from; "unknown" outside git
    int attempt = 1;          // 1 for the first test of this serial number, 2 for the next, ...
    PortFacts port;
    std::string limitsPath;     // empty: the built-in limits
    std::string recordingFile;  // the first EDF+ file of the run; empty: none
    // Every EDF+ file of the run (a rate change continues in the next file), in order.
    std::vector<RecordedFile> recordings;
    // What the result is not worth, on every page, e.g. "simulated module, not
    // a module result" (analysis::runNotices); empty for a production run.
    std::vector<std::string> notices;
};

// A finished test as the report files show it: a copy, so the runner may be
// started again or go away while the files are written.
struct TestReport {
    RunFacts facts;
    analysis::TestOutcome outcome = analysis::TestOutcome::NotStarted;
    std::vector<analysis::StepResult> steps;
    analysis::TestPictures pictures;
    analysis::TestLimits limits;
};

TestReport collectReport(const analysis::ModuleTestRunner& runner, RunFacts facts);

// "PASS", "FAIL", "INCOMPLETE" (cancelled, no module, or a check that could
// not be judged), "UNFINISHED".
std::string outcomeText(analysis::TestOutcome outcome);
// The same for databases: "pass", "fail", "incomplete", "unfinished".
std::string outcomeKey(analysis::TestOutcome outcome);
// Why an outcome is incomplete: "cancelled", "no-module", "not-judged"; empty
// for any other outcome.
std::string incompleteBecause(analysis::TestOutcome outcome);
// "pass", "fail", "incomplete", "skipped", "cancelled", "pending", "running".
std::string verdictKey(analysis::Verdict verdict);

std::vector<const analysis::StepResult*> failedSteps(const TestReport& report);

// Seconds from the start of the first step; nothing for a step that did not run.
std::optional<double> stepStartSeconds(const TestReport& report, const analysis::StepResult& step);
std::optional<double> stepDurationSeconds(const analysis::StepResult& step);
// From the start of the first step to the end of the last one that ran.
std::optional<double> testDurationSeconds(const TestReport& report);

}  // namespace vitalon::report
