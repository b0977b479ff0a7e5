#include <QTimeZone>
#include <chrono>

#include <gtest/gtest.h>

#include "RunRecord.h"
#include "TestReport.h"

namespace vitalon::results {
namespace {

using analysis::CheckResult;
using analysis::StepResult;
using analysis::Verdict;

report::TestReport finishedReport() {
    report::TestReport report;
    report.facts.serialNumber = "TR-0042";
    report.facts.operatorName = "Ann";
    report.facts.station = "bench-3";
    report.facts.startedAt =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(1'796'716'800'123));
    report.facts.endedAt = report.facts.startedAt + std::chrono::seconds(131);
    report.facts.timeZone = "Asia/Kolkata";  // +05:30 all year
    report.facts.vitalonVersion = "1.4.0";
    report.facts.buildCommit = "8c3ac31";
    report.facts.attempt = 2;
    report.facts.port.device = "/dev/ttyUSB0";
    report.facts.port.usb = true;
    report.facts.port.usbVendorId = 0x0403;
    report.facts.port.usbProductId = 0x6001;
    report.facts.port.manufacturer = "FTDI";
    report.facts.port.description = "FT232R USB UART";
    report.facts.port.adapterSerialNumber = "A10K3Z";
    report.facts.recordings = {{"TR-0042.edf", std::string(64, 'd')}, {"TR-0042-2.edf", ""}};
    report.outcome = analysis::TestOutcome::Failed;
    report.limits.name = "TR71000 production";
    report.limits.revision = "7";
    report.limits.sha256 = std::string(64, 'c');

    CheckResult rate =
        analysis::judge("rate.s1", "sample rate at S1", 100.2, "/s", analysis::around(100.0, 1.0));
    rate.marginal = true;
    CheckResult mains =
        analysis::judge("mains.rejection", "mains rejection", 12.0, "dB", analysis::atLeast(20.0));
    CheckResult unjudged =
        analysis::judge("link.gaps", "gaps", std::nullopt, "", analysis::atMost(0.0));
    unjudged.judged = false;
    report.steps = {StepResult{1, "link", Verdict::Passed, {rate}, {}, {}, {}},
                    StepResult{2, "mains", Verdict::Failed, {mains, unjudged}, {}, {}, {}}};
    return report;
}

TEST(RunRecordOf, TakesFactsLimitsAndEveryCheckInStepOrder) {
    const RunRecord run = runRecordOf(
        finishedReport(), {"given-uuid", 0, "cable replaced", {{"pdf", "TR-0042.pdf", "ef"}}});
    EXPECT_EQ(run.uuid, "given-uuid");
    EXPECT_EQ(run.serialNumber, "TR-0042");
    EXPECT_EQ(run.operatorName, "Ann");
    EXPECT_EQ(run.station, "bench-3");
    EXPECT_EQ(run.startedAt.toMSecsSinceEpoch(), 1'796'716'800'123);
    // Kept at the station's offset from UTC, not as UTC.
    EXPECT_EQ(run.startedAt.offsetFromUtc(), 19'800);
    EXPECT_EQ(run.endedAt.toMSecsSinceEpoch(), 1'796'716'800'123 + 131'000);
    EXPECT_EQ(run.endedAt.offsetFromUtc(), 19'800);
    EXPECT_EQ(run.outcome, "fail");
    EXPECT_EQ(run.limitsName, "TR71000 production");
    EXPECT_EQ(run.limitsRevision, "7");
    EXPECT_EQ(run.limitsSha256, std::string(64, 'c'));
    EXPECT_FALSE(run.demonstration);
    EXPECT_EQ(run.vitalonVersion, "1.4.0");
    EXPECT_EQ(run.vitalonCommit, "8c3ac31");
    EXPECT_EQ(run.adapter, "FTDI FT232R USB UART usb 0403:6001 serial A10K3Z");
    EXPECT_EQ(run.attempt, 2);
    EXPECT_EQ(run.retestReason, "cable replaced");
    EXPECT_EQ(run.attachments,
              (std::vector<AttachmentRecord>{{"pdf", "TR-0042.pdf", "ef"},
                                             {"edf", "TR-0042.edf", std::string(64, 'd')},
                                             {"edf", "TR-0042-2.edf", ""}}));

    ASSERT_EQ(run.checks.size(), 3u);
    EXPECT_EQ(run.checks[0], (CheckRecord{"rate.s1", "sample rate at S1", 100.2, "/s", 99.0, 101.0,
                                          "pass", true}));
    // A one-sided limit keeps no value for its open end.
    EXPECT_EQ(run.checks[1], (CheckRecord{"mains.rejection", "mains rejection", 12.0, "dB", 20.0,
                                          std::nullopt, "fail", false}));
    EXPECT_EQ(run.checks[2], (CheckRecord{"link.gaps", "gaps", std::nullopt, "", std::nullopt, 0.0,
                                          "incomplete", false}));
}

TEST(RunRecordOf, ANoticedRunIsADemonstrationAndGetsAFreshUuid) {
    report::TestReport report = finishedReport();
    report.facts.notices = {"simulated module, not a module result"};
    const RunRecord first = runRecordOf(report);
    const RunRecord second = runRecordOf(report);
    EXPECT_TRUE(first.demonstration);
    EXPECT_EQ(first.uuid.size(), 36u);
    EXPECT_EQ(first.uuid.find('{'), std::string::npos);
    EXPECT_NE(first.uuid, second.uuid);
    EXPECT_EQ(first.attempt, 2);
    EXPECT_EQ(runRecordOf(report, {"u", 5, {}, {}}).attempt, 5);  // the store's count wins
}

TEST(RunRecordOf, UnknownZoneFallsBackToTheSystemsAndAPlainPortNamesItsDevice) {
    report::TestReport report = finishedReport();
    report.facts.timeZone = "Nowhere/Atlantis";
    report.facts.port = {};
    report.facts.port.device = "/dev/ttyS0";
    const RunRecord run = runRecordOf(report);
    EXPECT_EQ(run.startedAt.offsetFromUtc(),
              QDateTime::fromMSecsSinceEpoch(1'796'716'800'123).offsetFromUtc());
    EXPECT_EQ(run.adapter, "/dev/ttyS0");
}

TEST(RunRecordOf, UnfinishedReportWithoutStartTimeKeepsNoTime) {
    report::TestReport report;
    const RunRecord run = runRecordOf(report, {"u", 1, {}, {{"json", "/r/x.json", "ab"}}});
    EXPECT_EQ(run.outcome, "unfinished");
    EXPECT_FALSE(run.startedAt.isValid());
    EXPECT_FALSE(run.endedAt.isValid());
    EXPECT_EQ(run.attachments, (std::vector<AttachmentRecord>{{"json", "/r/x.json", "ab"}}));
}

}  // namespace
}  // namespace vitalon::results
