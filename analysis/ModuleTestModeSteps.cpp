// The plans of the steps that change the module's mode: simulation,
// reports and restore.
#include "ModuleTestRunner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "MainsTone.h"
#include "ModuleTestSupport.h"
#include "Protocol.h"
#include "SampleSpikes.h"

namespace vitalon::analysis {

using namespace runner;
ModuleTestRunner::Plan ModuleTestRunner::simulationStep() {
    Plan plan;
    plan.push_back(send({"M"}));
    plan.push_back(settle());
    plan.push_back(collect(limits_.simulation.measureSeconds));
    plan.push_back(action([this] {
        const auto& limits = limits_.simulation;
        const double expected = limits.heartRate;
        const Range rates = around(expected, limits_.rateTolerance(expected));
        const Beats beats = detectBeats(capture_.samples, nominalRate());
        addCheck(judge(
            "sim.rate", "heart rate in simulation mode", beats.heartRate(), "/min", rates, 1,
            beats.rWaves.empty() ? std::string()
                                 : format("%.0f beats", static_cast<double>(beats.rWaves.size())),
            "no beats found"));
        addCheck(judge("sim.variation", "beat-to-beat variation in simulation mode",
                       beats.largestIntervalDeviationPercent(), "%",
                       atMost(limits.maxIntervalDeviationPercent), 1, {}, "too few beats"));
        std::optional<double> reported;
        std::string detail;
        if (!capture_.pulses.empty()) {
            reported = median(capture_.pulses);
            detail = format("median of %.0f", static_cast<double>(capture_.pulses.size()));
        }
        addCheck(judge("sim.pulse.reports", "pulse reports in simulation mode", reported, "/min",
                       rates, 1, detail, format("none in %.1f s", limits.measureSeconds)));
    }));
    plan.push_back(send({"N"}));
    plan.push_back(settle());
    return plan;
}

ModuleTestRunner::Plan ModuleTestRunner::reportsStep() {
    const TestLimits::Reports& reportLimits = limits_.reports;
    Plan plan;
    plan.push_back(action([this] { reportsStartedAt_ = now_; }));
    plan.push_back(collect(reportLimits.pulseMeasureSeconds));
    plan.push_back(action([this] {
        const auto& limits = limits_.reports;
        const Beats beats = detectBeats(capture_.samples, nominalRate());
        const auto detected = beats.heartRate();
        const char* const id = "pulse.reports";
        const char* const name = "pulse reports against the detected heart rate";
        if (!detected) {
            addCheck(judge(id, name, std::nullopt, "/min", around(0.0, limits.rateToleranceBpm), 1,
                           {}, "no heart beats found in the samples"));
            return;
        }
        const double tolerance = limits_.rateTolerance(*detected);
        if (capture_.pulses.empty()) {
            addCheck(judge(id, name, std::nullopt, "/min", around(0.0, tolerance), 1,
                           format("detected %.1f/min", *detected),
                           format("no pulse reports in %.1f s", limits.pulseMeasureSeconds)));
            return;
        }
        const double reported = median(capture_.pulses);
        addCheck(judge(id, name, reported - *detected, "/min", around(0.0, tolerance), 1,
                       format("reports %.0f/min, detected %.1f/min", reported, *detected)));
    }));
    plan.push_back(send({"D1"}));
    plan.push_back(settle());
    plan.push_back(collect(reportLimits.respirationMeasureSeconds));
    plan.push_back(action([this] {
        addCheck(judge("resp.reports.count", "respiration reports with \"D1\"",
                       static_cast<double>(capture_.respirations.size()), "",
                       atLeast(limits_.reports.minRespirationReports), 0,
                       format("in %.1f s", limits_.reports.respirationMeasureSeconds)));
    }));
    plan.push_back(send({"D0"}));
    plan.push_back(settle());
    if (reportLimits.leadOffCheck) {
        plan.push_back(ask("Take one electrode off the patient, then confirm."));
        plan.push_back(waitFor(
            1.0,
            [this] { return statusSince(*confirmedAt_, protocol::kStatusLeadOff).has_value(); },
            reportLimits.leadOffWithinSeconds, [] {}));
        plan.push_back(action([this] {
            // A report that came between the prompt and the confirmation counts
            // as immediate.
            const auto early = statusSince(promptShownAt_, protocol::kStatusLeadOff);
            std::optional<double> delay;
            if (early) {
                delay = std::max(0.0, secondsBetween(*confirmedAt_, *early));
            }
            addCheck(judge("status.lead-off", "lead-off report after the electrode was taken off",
                           delay, "s", atMost(limits_.reports.leadOffWithinSeconds), 1, {},
                           format("none within %.1f s", limits_.reports.leadOffWithinSeconds)));
        }));
        plan.push_back(ask("Put the electrode back on, then confirm."));
        plan.push_back(waitFor(
            1.0, [this] { return statusSince(*confirmedAt_, protocol::kStatusOk).has_value(); },
            limits_.link.statusWithinSeconds,
            [this] {
                addCheck(judge("status.lead-on", "status OK after the electrode was put back",
                               std::nullopt, "s", atMost(limits_.link.statusWithinSeconds), 1, {},
                               "none"));
            }));
    }
    plan.push_back(action([this] {
        // The longest stretch without a status report, the ends of the step
        // included.
        HostTime previous = reportsStartedAt_;
        double longest = 0.0;
        for (const StatusReport& s : statuses_) {
            if (s.at >= reportsStartedAt_) {
                longest = std::max(longest, secondsBetween(previous, s.at));
                previous = s.at;
            }
        }
        longest = std::max(longest, secondsBetween(previous, now_));
        addCheck(judge("status.interval", "longest time between status reports", longest, "s",
                       atMost(limits_.reports.maxStatusIntervalSeconds), 1));
    }));
    return plan;
}

ModuleTestRunner::Plan ModuleTestRunner::restoreStep() {
    const double sampleLimit = limits_.link.samplesWithinSeconds;
    Plan plan;
    plan.push_back(action([this] {
        prompt_.clear();
        std::size_t written = 0;
        for (std::string_view command : protocol::kStartCommands) {
            // Every command is tried, so that as much as possible is restored.
            written += sendCommand(std::string(command)) ? 1 : 0;
        }
        addCheck(judge("restore.commands", "start commands written", static_cast<double>(written),
                       "", atLeast(static_cast<double>(protocol::kStartCommands.size())), 0));
    }));
    plan.push_back(settle());
    plan.push_back(action([this] { commandsSentAt_ = now_; }));
    plan.push_back(waitFor(
        kPlannedFirstSample, [this] { return lastSampleAt_ && *lastSampleAt_ >= commandsSentAt_; },
        sampleLimit, [] {}));
    plan.push_back(action([this, sampleLimit] {
        std::optional<double> delay;
        if (lastSampleAt_ && *lastSampleAt_ >= commandsSentAt_) {
            delay = secondsBetween(commandsSentAt_, *lastSampleAt_);
        }
        addCheck(judge("restore.samples", "samples after restoring", delay, "s",
                       atMost(sampleLimit), 2, {}, format("none within %.1f s", sampleLimit)));
    }));
    return plan;
}

}  // namespace vitalon::analysis
