// The plans of the steps that measure the signal: link, sample rate,
// calibration, leads and mains filter.
#include "ModuleTestRunner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "MainsTone.h"
#include "ModuleTestSupport.h"
#include "Protocol.h"
#include "SampleSpikes.h"
#include "SignalNoise.h"

namespace vitalon::analysis {

using namespace runner;

// --- Steps ------------------------------------------------------------------

void ModuleTestRunner::buildPlans() {
    plans_ = {linkStep(),        sampleRateStep(), calibrationStep(), leadsStep(),
              mainsFilterStep(), simulationStep(), reportsStep(),     restoreStep()};
    plannedTotal_ = 0.0;
    for (const Plan& plan : plans_) {
        for (const Phase& phase : plan) {
            plannedTotal_ += phase.plannedSeconds;
        }
    }
}

ModuleTestRunner::Plan ModuleTestRunner::linkStep() {
    const std::vector<std::string> startCommands(protocol::kStartCommands.begin(),
                                                 protocol::kStartCommands.end());
    const double sampleLimit = limits_.link.samplesWithinSeconds;
    const double statusLimit = limits_.link.statusWithinSeconds;
    Plan plan;
    plan.push_back(action([this, startCommands] {
        commandsSentAt_ = now_;
        lastSampleAt_.reset();
        awaitingFreshSample_ = true;
        firstDeliveryAt_.reset();
        for (const std::string& command : startCommands) {
            if (!sendCommand(command)) {
                addCheck(unwritten(command));
                noModule_ = true;
                abortToRestore();
                return;
            }
        }
    }));
    plan.push_back(waitFor(
        kPlannedFirstSample, [this] { return lastSampleAt_.has_value(); }, sampleLimit,
        [this, sampleLimit] {
            addCheck(judge("link.first-sample", "first sample after the start commands",
                           std::nullopt, "s", atMost(sampleLimit), 2, {}, "none"));
            noModule_ = true;
            abortToRestore();
        }));
    plan.push_back(action([this, sampleLimit] {
        addCheck(judge("link.first-sample", "first sample after the start commands",
                       secondsBetween(commandsSentAt_, *lastSampleAt_), "s", atMost(sampleLimit),
                       2));
    }));
    plan.push_back(waitFor(
        kPlannedStatus, [this] { return statusSince(commandsSentAt_, {}).has_value(); },
        statusLimit, [] {}));
    plan.push_back(action([this, statusLimit] {
        const auto at = statusSince(commandsSentAt_, {});
        std::optional<double> code;
        std::string detail;
        for (const StatusReport& s : statuses_) {
            if (at && s.at == *at) {
                code = s.code;
                detail = s.code == protocol::kStatusOk        ? "OK"
                         : s.code == protocol::kStatusLeadOff ? "lead off"
                                                              : "unknown code";
                break;
            }
        }
        addCheck(judge("link.status", "status report", code, "", {0.0, 0.0}, 0, detail,
                       at ? "none" : format("none within %.1f s", statusLimit)));
    }));
    return plan;
}

ModuleTestRunner::Plan ModuleTestRunner::sampleRateStep() {
    struct Speed {
        const char* id;
        const char* command;
        double samplesPerSecond;
    };
    Plan plan;
    for (const Speed speed : {Speed{"rate.s1", "S1", 100.0}, Speed{"rate.s2", "S2", 50.0},
                              Speed{"rate.s0", "S0", 300.0}}) {
        plan.push_back(send({speed.command}));
        plan.push_back(settle());
        plan.push_back(collectRate(limits_.sampleRate.measureSeconds));
        plan.push_back(action([this, speed] {
            const double tolerance =
                speed.samplesPerSecond * limits_.sampleRate.tolerancePercent / 100.0;
            addCheck(judge(speed.id, std::string("sample rate at ") + speed.command,
                           capture_.rate.samplesPerSecond(), "/s",
                           around(speed.samplesPerSecond, tolerance), 2,
                           format("%.0f samples in %.2f s",
                                  static_cast<double>(capture_.rate.samplesInWindow()),
                                  capture_.rate.windowSeconds())));
        }));
    }
    return plan;
}

ModuleTestRunner::Plan ModuleTestRunner::calibrationStep() {
    Plan plan;
    plan.push_back(action([this] {
        railSamples_ = 0;
        pictures_.calibration.clear();
    }));
    for (int step = 0; step < 3; ++step) {
        plan.push_back(send({"A" + std::to_string(step)}));
        plan.push_back(settle());
        recordCalibration(plan, kCalibrationPulses);
        plan.push_back(action([this, step] {
            const double rate = nominalRate();
            CalibrationTrace trace{step, rate, std::move(calibrationSamples_), {}, {}};
            trace.pulses = findCalibrationPulses(trace.samples, rate);
            // Where the module adds the rectangle to the live ECG, an R wave
            // under it may reach the top of the range at A2: that is no
            // clipped input, so only samples at 0 count there.
            const bool onEcg = std::ranges::any_of(trace.pulses, &CalibrationPulse::onLiveEcg);
            railSamples_ += onEcg ? static_cast<std::size_t>(std::ranges::count(trace.samples, 0))
                                  : countRailSamples(trace.samples);
            if (!trace.pulses.empty()) {
                trace.pulse = trace.pulses.front();
            }
            pictures_.calibration.push_back(std::move(trace));
        }));
    }
    plan.push_back(send({"A1"}));
    plan.push_back(settle());
    plan.push_back(action([this] {
        const auto& limits = limits_.calibration;
        std::vector<std::optional<double>> heights;
        std::vector<double> offsets;
        for (CalibrationTrace& trace : pictures_.calibration) {
            const std::string at = "A" + std::to_string(trace.amplification);
            const std::string id = "cal.a" + std::to_string(trace.amplification);
            if (const auto level =
                    levelBesidePulses(trace.samples, trace.pulses, trace.samplesPerSecond)) {
                offsets.push_back(*level - ModuleTestRunner::kMidScale);
            }
            const auto height = calibrationHeight(trace.pulses);
            if (!height) {
                heights.emplace_back();
                addCheck(judge(id + ".height", "calibration pulse at " + at, std::nullopt, "counts",
                               limits.heightCounts[static_cast<std::size_t>(trace.amplification)],
                               1, {}, "no rectangle found"));
                continue;
            }
            // The picture shows the height judged.
            trace.pulse->heightCounts = *height;
            heights.emplace_back(height);
            std::vector<double> widths;
            std::vector<double> droops;
            for (const CalibrationPulse& pulse : trace.pulses) {
                widths.push_back(pulse.widthSeconds);
                droops.push_back(pulse.droopPercent);
            }
            const double width = middleOf(widths);
            const double droop = middleOf(droops);
            trace.pulse->widthSeconds = width;
            trace.pulse->droopPercent = droop;
            addCheck(judge(id + ".height", "calibration height at " + at, *height, "counts",
                           limits.heightCounts[static_cast<std::size_t>(trace.amplification)]));
            addCheck(judge(id + ".width", "calibration width at " + at, width, "s",
                           limits.widthSeconds, 3));
            addCheck(judge(id + ".droop", "calibration droop at " + at, droop, "%",
                           atMost(limits.maxDroopPercent)));
        }
        for (std::size_t step = 1; step < heights.size(); ++step) {
            const std::string name =
                "height ratio A" + std::to_string(step) + "/A" + std::to_string(step - 1);
            std::optional<double> ratio;
            if (heights[step] && heights[step - 1] && *heights[step - 1] > 0.0) {
                ratio = *heights[step] / *heights[step - 1];
            }
            addCheck(judge("cal.ratio.a" + std::to_string(step) + "a" + std::to_string(step - 1),
                           name, ratio, "", limits.stepRatio, 2, {}, "no heights to compare"));
        }
        addCheck(judge("cal.rail", "samples at 0 or 247", static_cast<double>(railSamples_), "",
                       atMost(limits.maxRailSamples), 0));
        // A DC offset of the output: the level the pulses stand on, away from
        // them, against the mid-scale. On the live ECG it moves with P and T
        // waves and the baseline, more at the higher amplifications; the median
        // of the three keeps the middle one.
        std::optional<double> offset;
        if (!offsets.empty()) {
            offset = middleOf(offsets);
        }
        addCheck(judge("cal.baseline", "calibration baseline offset from 128", offset, "counts",
                       around(0.0, limits.maxBaselineOffsetCounts), 1,
                       format("median of %.0f recordings", static_cast<double>(offsets.size())),
                       "nothing recorded"));
    }));
    return plan;
}

// `pulses` pulses into calibrationSamples_, in the time one recording takes:
// where the module adds the rectangle to the live ECG, a QRS complex may fall
// on an edge of one of them.
void ModuleTestRunner::recordCalibration(Plan& plan, int pulses) {
    const double each = limits_.calibration.recordSeconds / pulses;
    plan.push_back(action([this] { calibrationSamples_.clear(); }));
    for (int i = 0; i < pulses; ++i) {
        plan.push_back(send({"C"}));
        plan.push_back(collect(each));
        plan.push_back(action([this] {
            calibrationSamples_.insert(calibrationSamples_.end(), capture_.samples.begin(),
                                       capture_.samples.end());
        }));
    }
}

ModuleTestRunner::Plan ModuleTestRunner::leadsStep() {
    struct Lead {
        const char* command;
        const char* name;
    };
    Plan plan;
    plan.push_back(action([this] { pictures_.leads.clear(); }));
    for (const Lead lead : {Lead{"G2", "I"}, Lead{"G1", "II"}, Lead{"G0", "III"}}) {
        plan.push_back(send({lead.command}));
        plan.push_back(settle());
        plan.push_back(collect(limits_.leads.measureSeconds));
        plan.push_back(action([this, lead] {
            const Beats beats = detectBeats(capture_.samples, nominalRate());
            pictures_.leads.push_back({lead.name, beats.rWaves.size(),
                                       averageBeats(capture_.samples, beats), beats.heartRate(),
                                       noiseBetweenBeats(capture_.samples, beats)});
        }));
    }
    plan.push_back(send({"G1"}));
    plan.push_back(settle());
    plan.push_back(action([this] {
        const auto& limits = limits_.leads;
        for (const LeadBeat& lead : pictures_.leads) {
            addCheck(judge("leads." + lowered(lead.lead) + ".beats",
                           "beats found in lead " + lead.lead, static_cast<double>(lead.beatsFound),
                           "", atLeast(limits.minBeats), 0));
        }
        for (const LeadBeat& lead : pictures_.leads) {
            addCheck(judge("leads." + lowered(lead.lead) + ".noise",
                           "noise between the beats in lead " + lead.lead, lead.noiseCounts,
                           "counts rms", atMost(limits.maxNoiseCounts), 2, {},
                           "too little signal between the beats"));
        }
        if (pictures_.leads.size() != 3) {
            return;
        }
        const AveragedBeat& one = pictures_.leads[0].average;
        const AveragedBeat& two = pictures_.leads[1].average;
        const AveragedBeat& three = pictures_.leads[2].average;
        const auto fit = fitEinthoven(one, two, three);
        addCheck(judge("leads.einthoven", "Einthoven residual of II - (I + III)",
                       fit ? std::optional(fit->residualPercent) : std::nullopt, "%",
                       atMost(limits.maxEinthovenPercent), 1, {}, "no beats to compare"));
        // Each lead's R wave with its sign over lead II's: a lead the heart's
        // axis points away from (lead III near +15 degrees) has a negative
        // one. Lead II is divided by only where it is large, at least a third
        // of the largest lead's; otherwise the ratio is not judged.
        const double reference = two.beats > 0 ? two.rWave() : 0.0;
        const double largest =
            std::max({std::abs(one.rWave()), std::abs(reference), std::abs(three.rWave())});
        const bool divisible = reference > 0.0 && reference >= largest / 3.0;
        const auto ratio = [&](const char* id, const char* name, const AveragedBeat& lead,
                               const Range& range) {
            std::optional<double> value;
            if (lead.beats > 0 && divisible) {
                value = lead.rWave() / reference;
            }
            CheckResult check =
                judge(id, name, value, "", range, 2, {},
                      lead.beats == 0 || two.beats == 0
                          ? "no beats to compare"
                          : format("lead II's R wave of %.1f counts is too small to divide by",
                                   reference));
            if (!value && lead.beats > 0 && two.beats > 0) {
                check.judged = false;
            }
            addCheck(std::move(check));
        };
        ratio("leads.i.ratio", "R wave of lead I over lead II", one, limits.leadIRatio);
        ratio("leads.iii.ratio", "R wave of lead III over lead II", three, limits.leadIIIRatio);
    }));
    return plan;
}

ModuleTestRunner::Plan ModuleTestRunner::mainsFilterStep() {
    const double seconds = limits_.mainsFilter.measureSeconds;
    Plan plan;
    // The hum is measured at 300 a second, where both mains frequencies lie
    // well below half the rate. Step 2 leaves the module there already.
    plan.push_back(send({"S0", "6"}));
    plan.push_back(settle());
    plan.push_back(collect(seconds));
    plan.push_back(action([this] {
        hum50Unfiltered_ = strongestToneNear(capture_.samples, nominalRate(), 50.0);
        hum60Filtered_ = strongestToneNear(capture_.samples, nominalRate(), 60.0);
    }));
    plan.push_back(send({"5"}));
    plan.push_back(settle());
    plan.push_back(collect(seconds));
    plan.push_back(action([this] {
        const auto& limits = limits_.mainsFilter;
        const double hum50Filtered = strongestToneNear(capture_.samples, nominalRate(), 50.0);
        const double hum60Unfiltered = strongestToneNear(capture_.samples, nominalRate(), 60.0);
        // The filter is judged at each frequency the bench profile says carries
        // hum. Too little hum there (a shielded bench, a battery patient
        // simulator) leaves the filter unjudged and the step incomplete: it is
        // no fault of the module. A frequency the profile says has no hum is
        // not judged, and the check says so.
        struct Tone {
            const char* id;
            const char* name;
            double hz;
            bool declared;
            double unfiltered;
            double filtered;
        };
        const Tone tones[] = {{"mains.50hz.suppression", "50 Hz suppression by \"5\"", 50.0,
                               limits_.bench.hum50Hz, hum50Unfiltered_, hum50Filtered},
                              {"mains.60hz.suppression", "60 Hz suppression by \"6\"", 60.0,
                               limits_.bench.hum60Hz, hum60Unfiltered, hum60Filtered_}};
        std::optional<double> weakest;
        std::string detail = format("50 Hz %.2f counts with \"6\", 60 Hz %.2f counts with \"5\"",
                                    hum50Unfiltered_, hum60Unfiltered);
        for (const Tone& tone : tones) {
            if (tone.declared) {
                weakest = std::min(weakest.value_or(tone.unfiltered), tone.unfiltered);
            } else {
                detail += format("; %.0f Hz not judged: the bench profile declares no hum there",
                                 tone.hz);
            }
        }
        CheckResult hum = judge("mains.hum", "mains hum without its filter", weakest, "counts",
                                atLeast(limits.minHumCounts), 2, detail,
                                "the bench profile declares no mains hum");
        if (!hum.passed) {
            hum.judged = false;
            hum.reason += weakest ? ": the bench profile says it carries hum there, so the "
                                    "filters could not be judged"
                                  : ": the filters could not be judged";
        }
        addCheck(std::move(hum));
        for (const Tone& tone : tones) {
            if (!tone.declared || tone.unfiltered < limits.minHumCounts) {
                continue;
            }
            const double db = 20.0 * std::log10(tone.unfiltered / std::max(tone.filtered, 1e-9));
            addCheck(judge(tone.id, tone.name, db, "dB", atLeast(limits.minSuppressionDb), 1,
                           format("%.2f counts without, %.2f counts with it", tone.unfiltered,
                                  tone.filtered)));
        }
    }));
    return plan;
}

}  // namespace vitalon::analysis
