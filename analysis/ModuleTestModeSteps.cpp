// The plans of the steps that change the module's mode: simulation,
// reports and restore.
#include "ModuleTestRunner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "MainsTone.h"
#include "ModuleTestSupport.h"
#include "Protocol.h"
#include "RespirationCurve.h"
#include "SampleSpikes.h"

namespace vitalon::analysis {

using namespace runner;

namespace {

// Counts either side of the samples around a report within which its value
// reads as one more sample: a waveform byte the line turned into a marker
// makes the next sample a report's value.
constexpr double kWaveformCounts = 4.0;

}  // namespace

Range ModuleTestRunner::patientPulse() const {
    return around(limits_.bench.heartRate, limits_.rateTolerance(limits_.bench.heartRate));
}

// Every report is judged on its own; no average hides an intermittent fault.
// A report outside `accepted` whose value lies among the samples around it is
// a corrupted sample, not the module's report: a link error of the step.
void ModuleTestRunner::judgeReports(const std::string& id, const std::string& name,
                                    const std::vector<Report>& reports, Range accepted,
                                    int maxOutside, const std::string& noneText) {
    const std::vector<std::uint8_t>& samples = capture_.samples;
    std::vector<int> values;
    // A line that makes markers of sample bytes is rare (one corrupted byte in
    // 128 becomes a marker); a second such report in one recording is taken
    // for the module's, so that a module whose wrong values happen to lie
    // among its samples cannot hide behind the rule.
    bool excused = false;
    for (const Report& r : reports) {
        if (!excused && !accepted.contains(r.value) && r.samplesBefore > 0) {
            const double before = samples[r.samplesBefore - 1];
            const double after =
                r.samplesBefore < samples.size() ? samples[r.samplesBefore] : before;
            if (r.value >= std::min(before, after) - kWaveformCounts &&
                r.value <= std::max(before, after) + kWaveformCounts) {
                ++linkErrors_.reportsInWaveform;
                excused = true;
                continue;
            }
        }
        values.push_back(r.value);
    }
    const double middle = (accepted.min + accepted.max) / 2.0;
    std::ranges::sort(
        values, [middle](int a, int b) { return std::abs(a - middle) > std::abs(b - middle); });
    const auto outside =
        std::ranges::count_if(values, [&](int v) { return !accepted.contains(v); });
    std::optional<double> judged;
    std::string detail;
    if (!values.empty()) {
        // The worst report once the allowed ones outside are set aside; one
        // report at least is judged.
        const auto index = std::min(static_cast<std::size_t>(maxOutside), values.size() - 1);
        judged = values[index];
        detail = index == 0
                     ? format("the worst of %.0f", static_cast<double>(values.size()))
                     : format("the worst of %.0f after the %.0f allowed outside",
                              static_cast<double>(values.size()), static_cast<double>(index));
    }
    // Without a text for none, reports are optional: none leaves only the
    // count outside, 0.
    if (judged || !noneText.empty()) {
        addCheck(judge(id, name, judged, "/min", accepted, 1, detail, noneText));
    }
    addCheck(judge(id + ".outside",
                   name + " outside " + format("%.1f to %.1f /min", accepted.min, accepted.max),
                   static_cast<double>(outside), "", atMost(maxOutside), 0,
                   values.empty() ? std::string("none received")
                                  : format("of %.0f; the worst %.0f /min",
                                           static_cast<double>(values.size()), values.front())));
}

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
        judgeReports("sim.pulse.reports", "pulse reports in simulation mode", capture_.pulses,
                     rates, limits_.reports.maxPulseOutside,
                     format("none in %.1f s", limits.measureSeconds));
        // Respiration reports need not come in this time; those that do are judged.
        const Range breaths = around(limits.respirationRate, limits_.reports.respirationTolerance);
        judgeReports("sim.resp.reports", "respiration reports in simulation mode",
                     capture_.respirations, breaths, limits_.reports.maxRespirationOutside, {});
    }));
    plan.push_back(send({"N"}));
    plan.push_back(settle());
    // Back to the patient: a pulse report at the patient's rate, which lies
    // outside the simulation's, shows it.
    plan.push_back(action([this] {
        returnSince_ = now_;
        returnedAt_.reset();
    }));
    plan.push_back(waitFor(
        kPlannedReturn, [this] { return returnedAt_.has_value(); },
        limits_.simulation.returnWithinSeconds, [] {}));
    plan.push_back(action([this] {
        const double limit = limits_.simulation.returnWithinSeconds;
        std::optional<double> delay;
        if (returnedAt_) {
            delay = secondsBetween(*returnSince_, *returnedAt_);
        }
        returnSince_.reset();
        const Range patient = patientPulse();
        const double simulated = limits_.simulation.heartRate;
        CheckResult back =
            judge("sim.return", "pulse report at the patient's rate after \"N\"", delay, "s",
                  atMost(limit), 1, format("%.1f to %.1f /min", patient.min, patient.max),
                  format("none within %.1f s", limit));
        if (patient.contains(simulated) ||
            around(simulated, limits_.rateTolerance(simulated)).contains(limits_.bench.heartRate)) {
            back.judged = false;
            back.passed = false;
            back.reason = back.name + ": not judged: the bench's heart rate (" +
                          format("%.1f /min", limits_.bench.heartRate) +
                          ") lies within the tolerance of the simulation's (" +
                          format("%.1f /min", simulated) + "), so the two cannot be told apart";
        }
        addCheck(std::move(back));
    }));
    return plan;
}

ModuleTestRunner::Plan ModuleTestRunner::reportsStep() {
    const TestLimits::Reports& reportLimits = limits_.reports;
    Plan plan;
    plan.push_back(action([this] { reportsStartedAt_ = now_; }));
    plan.push_back(collect(reportLimits.pulseMeasureSeconds));
    plan.push_back(action([this] {
        const auto& limits = limits_.reports;
        const Range patient = patientPulse();
        const Beats beats = detectBeats(capture_.samples, nominalRate());
        addCheck(judge(
            "pulse.rhythm", "heart rate of the patient", beats.heartRate(), "/min", patient, 1,
            beats.rWaves.empty() ? std::string()
                                 : format("%.0f beats", static_cast<double>(beats.rWaves.size())),
            "no heart beats found in the samples"));
        // Lead II at A1: its R wave against the bench's, on the scale of the
        // 1 mV calibration pulse the limits expect at A1. A patient input
        // whose gain differs from the calibration path's shows here only.
        const AveragedBeat beat = averageBeats(capture_.samples, beats);
        const Range& calibrated = limits_.calibration.heightCounts[1];
        const double countsPerMillivolt = (calibrated.min + calibrated.max) / 2.0;
        const double expected = limits_.bench.amplitudeMillivolts;
        std::optional<double> amplitude;
        if (beat.beats > 0) {
            amplitude = beat.rAmplitude() / countsPerMillivolt;
        }
        addCheck(
            judge("pulse.amplitude", "R wave of lead II", amplitude, "mV",
                  around(expected, expected * limits.amplitudeTolerancePercent / 100.0), 2,
                  format("%.1f counts at %.1f counts/mV", beat.rAmplitude(), countsPerMillivolt),
                  "no heart beats found in the samples"));
        addCheck(judge("pulse.reports.count", "pulse reports received",
                       static_cast<double>(capture_.pulses.size()), "",
                       atLeast(limits.minPulseReports), 0,
                       format("in %.1f s", limits.pulseMeasureSeconds)));
        judgeReports("pulse.reports", "pulse reports against the patient's heart rate",
                     capture_.pulses, patient, limits.maxPulseOutside,
                     format("no pulse reports in %.1f s", limits.pulseMeasureSeconds));
    }));
    plan.push_back(send({"D1"}));
    plan.push_back(settle());
    plan.push_back(collect(reportLimits.respirationMeasureSeconds));
    plan.push_back(action([this] {
        const auto& limits = limits_.reports;
        addCheck(judge("resp.reports.count", "respiration reports with \"D1\"",
                       static_cast<double>(capture_.respirations.size()), "",
                       atLeast(limits.minRespirationReports), 0,
                       format("in %.1f s", limits.respirationMeasureSeconds)));
        const Range breaths = around(limits_.bench.respirationRate, limits.respirationTolerance);
        judgeReports("resp.reports", "respiration reports against the patient's rate",
                     capture_.respirations, breaths, limits.maxRespirationOutside,
                     format("none in %.1f s", limits.respirationMeasureSeconds));
        addCheck(judge("resp.curve", "breaths on the curve with \"D1\"",
                       breathsPerMinute(capture_.samples, nominalRate()), "/min", breaths, 1, {},
                       "fewer than two breaths found"));
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
        if (!delay || !restoreVerifiable()) {
            abortStep();
        }
    }));

    // The module is back as the start commands set it: measured, not assumed.
    plan.push_back(collectRateAtMost(limits_.restore.measureSeconds));
    plan.push_back(action([this] {
        const std::string_view speed = protocol::kStartCommands.front();
        const double rate = samplesPerSecondOf(speed);
        const double tolerance = rate * limits_.sampleRate.tolerancePercent / 100.0;
        addCheck(judge(
            "restore.rate", "sample rate at " + std::string(speed) + " after restoring",
            capture_.rate.samplesPerSecond(), "/s", around(rate, tolerance), 2,
            format("%.0f samples in %.2f s", static_cast<double>(capture_.rate.samplesInWindow()),
                   capture_.rate.windowSeconds())));

        // The patient's rhythm, not the internal test signal's.
        const Beats beats = detectBeats(capture_.samples, nominalRate());
        const std::optional<double> detected = beats.heartRate();
        const double expected = limits_.bench.heartRate;
        addCheck(judge("restore.heart-rate", "heart rate after restoring", detected, "/min",
                       around(expected, limits_.rateTolerance(expected)), 1,
                       format("%.0f beats", static_cast<double>(beats.rWaves.size())),
                       beats.rWaves.empty() ? "no beats found" : "too few beats"));

        // Lead II at the start amplification: its averaged R wave as the
        // leads step measured it.
        const AveragedBeat average = averageBeats(capture_.samples, beats);
        std::optional<double> change;
        std::string detail;
        if (pictures_.leads.size() == 3 && pictures_.leads[1].average.beats > 0 &&
            average.beats > 0) {
            const double before = pictures_.leads[1].average.rAmplitude();
            const double now = average.rAmplitude();
            if (before > 0.0) {
                change = 100.0 * (now - before) / before;
                detail = format("%.1f counts, %.1f counts in the leads step", now, before);
            }
        }
        addCheck(judge("restore.lead-ii", "lead II's R wave after restoring against step 4", change,
                       "%", around(0.0, limits_.restore.maxRWaveChangePercent), 1, detail,
                       average.beats == 0 ? "no beats found" : "no R wave to compare"));
    }));
    recordCalibration(plan, kCalibrationPulses);
    plan.push_back(action([this] {
        const auto pulses = findCalibrationPulses(calibrationSamples_, nominalRate());
        const auto height = calibrationHeight(pulses);
        addCheck(judge("restore.cal.height", "calibration height after restoring", height, "counts",
                       limits_.calibration.heightCounts[1], 1,
                       format("%.0f pulses", static_cast<double>(pulses.size())),
                       "no rectangle found"));
    }));
    // The last the module hears is the start state, as after a test that
    // was not verified.
    plan.push_back(action([this] {
        for (std::string_view command : protocol::kStartCommands) {
            sendCommand(std::string(command));
        }
    }));
    return plan;
}

// Only a test that ran to its end measures the restore: a cancelled or
// aborted one is incomplete anyway, and ends as soon as it has restored.
bool ModuleTestRunner::restoreVerifiable() const {
    return !cancelled_ && !noModule_ && std::ranges::none_of(steps_, [](const StepResult& s) {
        return s.verdict == Verdict::Skipped || s.verdict == Verdict::Cancelled;
    });
}

}  // namespace vitalon::analysis
