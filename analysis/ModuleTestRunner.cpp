#include "ModuleTestRunner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "MainsTone.h"
#include "Protocol.h"
#include "SampleSpikes.h"

namespace vitalon::analysis {

namespace {

constexpr const char* kTitles[ModuleTestRunner::kStepCount] = {
    "Link and start state", "Sample rate",     "Calibration pulse", "Leads",
    "Mains filter",         "Simulation mode", "Reports",           "Restore"};

// The first part of the identifiers of checks that every step makes.
constexpr const char* kStepKeys[ModuleTestRunner::kStepCount] = {
    "link", "rate", "cal", "leads", "mains", "sim", "reports", "restore"};

constexpr std::size_t kRestoreIndex = ModuleTestRunner::kStepCount - 1;

// Typical time the module takes to answer, for the progress estimate only.
constexpr double kPlannedFirstSample = 0.1;
constexpr double kPlannedStatus = 2.0;
constexpr double kPlannedPrompt = 10.0;

// The sample rate is counted between deliveries that brought everything made
// by then, chosen within this much of either end of the recording: a module
// that pauses for up to 0.8 s and catches up at 9600 baud is back on time
// within it.
constexpr double kRateEdgeSeconds = 1.25;

std::string format(const char* pattern, double a, double b = 0.0) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

double median(std::vector<int> values) {
    const auto middle = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

double samplesPerSecondOf(std::string_view speedCommand) {
    if (speedCommand == "S0") {
        return 300.0;
    }
    return speedCommand == "S2" ? 50.0 : 100.0;
}

std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string quoted(std::string_view command) {
    return "\"" + std::string(command) + "\"";
}

// A write that failed is no measurement: the check names the command only.
CheckResult unwritten(std::string_view command) {
    CheckResult check;
    check.id = "link.write";
    check.name = "command " + quoted(command);
    check.reason = check.name + " could not be written";
    return check;
}

}  // namespace

ModuleTestRunner::ModuleTestRunner(CommandChannel& module, TestLimits limits)
    : module_(module), limits_(std::move(limits)) {
    for (int i = 0; i < kStepCount; ++i) {
        steps_.push_back({i + 1, kTitles[i], Verdict::Pending, {}, {}, {}, {}});
    }
}

void ModuleTestRunner::start(HostTime now) {
    if (outcome_ != TestOutcome::NotStarted) {
        return;
    }
    now_ = now;
    outcome_ = TestOutcome::Running;
    buildPlans();
    beginStep(0);
    run();
}

void ModuleTestRunner::tick(HostTime now) {
    now_ = std::max(now_, now);
    if (outcome_ != TestOutcome::Running) {
        return;
    }
    watchStream();
    run();
}

void ModuleTestRunner::cancel(HostTime now) {
    now_ = std::max(now_, now);
    if (outcome_ != TestOutcome::Running || cancelled_) {
        return;
    }
    cancelled_ = true;
    prompt_.clear();
    if (stepIndex_ != kRestoreIndex) {
        steps_[stepIndex_].verdict = Verdict::Cancelled;
        abortToRestore();
    }
    run();
}

void ModuleTestRunner::confirmPrompt(HostTime now) {
    now_ = std::max(now_, now);
    if (prompt_.empty()) {
        return;
    }
    prompt_.clear();
    confirmedAt_ = now_;
    run();
}

bool ModuleTestRunner::finished() const {
    return outcome_ != TestOutcome::NotStarted && outcome_ != TestOutcome::Running;
}

const StepResult* ModuleTestRunner::currentStep() const {
    return outcome_ == TestOutcome::Running ? &steps_[stepIndex_] : nullptr;
}

// --- Stream events ----------------------------------------------------------

void ModuleTestRunner::onSample(std::uint8_t sample) {
    lastSampleAt_ = now_;
    if (capture_.open) {
        capture_.samples.push_back(sample);
        capture_.rate.add(now_);
    }
}

void ModuleTestRunner::onPulse(std::uint8_t rate) {
    if (capture_.open) {
        capture_.pulses.push_back(rate);
    }
}

void ModuleTestRunner::onRespiration(std::uint8_t rate) {
    if (capture_.open) {
        capture_.respirations.push_back(rate);
    }
}

void ModuleTestRunner::onStatus(std::uint8_t code) {
    statuses_.push_back({now_, code});
    if (code != protocol::kStatusOk && code != protocol::kStatusLeadOff) {
        ++linkErrors_.unknownStatus;
    }
}

void ModuleTestRunner::onInvalidByte(std::uint8_t) {
    ++linkErrors_.invalidBytes;
}

// --- The sequence -----------------------------------------------------------

void ModuleTestRunner::run() {
    while (outcome_ == TestOutcome::Running) {
        const Plan& plan = plans_[stepIndex_];
        if (phaseIndex_ >= plan.size()) {
            finishStep();
            continue;
        }
        const Phase& phase = plan[phaseIndex_];
        moved_ = false;
        if (!phaseBegun_) {
            phaseBegun_ = true;
            phaseStarted_ = now_;
            if (phase.begin) {
                phase.begin();
            }
            if (moved_) {
                continue;
            }
        }
        const bool done = !phase.done || phase.done();
        if (moved_) {
            continue;
        }
        if (!done) {
            break;
        }
        ++phaseIndex_;
        phaseBegun_ = false;
    }
}

void ModuleTestRunner::watchStream() {
    if (stepIndex_ == 0 || stepIndex_ == kRestoreIndex || !lastSampleAt_) {
        return;
    }
    const double quiet = secondsBetween(*lastSampleAt_, now_);
    if (quiet <= limits_.link.samplesWithinSeconds) {
        return;
    }
    if (++gapsInStep_ == 1) {
        firstGapSeconds_ = quiet;
        repeatStep();
        return;
    }
    // Interrupted twice: the step could not measure the module, which says
    // nothing good or bad about it (step 8 still judges whether it answers).
    CheckResult gap =
        judge(stepKey() + ".gap", "time without samples", quiet, "s",
              atMost(limits_.link.samplesWithinSeconds), 1, "again in the repeated step");
    gap.judged = false;
    gap.reason += ": the step could not be judged";
    addCheck(std::move(gap));
    abortToRestore();
}

// Back to the step's first phase, which sends its commands again. The stream
// has the full time allowed to come back; the step's checks so far are gone,
// its link errors are kept.
void ModuleTestRunner::repeatStep() {
    capture_ = {};
    prompt_.clear();
    steps_[stepIndex_].checks.clear();
    lastSampleAt_ = now_;
    phaseIndex_ = 0;
    phaseBegun_ = false;
    moved_ = true;
}

void ModuleTestRunner::judgeLink() {
    // A step repeated after a pause is no fault of the module (nothing was
    // lost on the line); the link check says so instead of a check of its own
    // that could never fail.
    const LinkErrors& e = linkErrors_;
    std::string detail = std::to_string(e.invalidBytes) + " invalid bytes, " +
                         std::to_string(e.unknownStatus) + " unknown status codes, " +
                         std::to_string(e.spikes) + " isolated spikes";
    if (gapsInStep_ == 1) {
        detail += format("; the step was repeated after %.1f s without samples", firstGapSeconds_);
    }
    addCheck(judge(stepKey() + ".link-errors", "link errors", static_cast<double>(e.total()), "",
                   atMost(limits_.link.maxErrors), 0, detail));
}

void ModuleTestRunner::beginStep(std::size_t index) {
    stepIndex_ = index;
    phaseIndex_ = 0;
    phaseBegun_ = false;
    capture_ = {};
    linkErrors_ = {};
    gapsInStep_ = 0;
    StepResult& step = steps_[index];
    step.verdict = Verdict::Running;
    step.started = now_;
    if (onStepStarted) {
        onStepStarted(step);
    }
}

void ModuleTestRunner::finishStep() {
    StepResult& step = steps_[stepIndex_];
    capture_.open = false;
    prompt_.clear();
    step.finished = now_;
    if (step.verdict != Verdict::Cancelled) {
        judgeLink();
    }
    // A fault found decides the step; a check that could not be judged leaves
    // it incomplete, never passed.
    const bool anyFailed = std::ranges::any_of(
        step.checks, [](const CheckResult& c) { return c.judged && !c.passed; });
    const bool anyUnjudged =
        std::ranges::any_of(step.checks, [](const CheckResult& c) { return !c.judged; });
    if (step.verdict != Verdict::Cancelled) {
        step.verdict = anyFailed || step.checks.empty() ? Verdict::Failed
                       : anyUnjudged                    ? Verdict::Incomplete
                                                        : Verdict::Passed;
    }
    for (const CheckResult& check : step.checks) {
        if (!check.passed) {
            step.reason += (step.reason.empty() ? "" : "; ") + check.reason;
        }
    }
    if (step.verdict == Verdict::Failed && step.reason.empty()) {
        step.reason = "nothing was measured";
    }
    if (onStepFinished) {
        onStepFinished(step);
    }

    std::size_t next = stepIndex_ + 1;
    while (next < steps_.size() && steps_[next].verdict == Verdict::Skipped) {
        ++next;
    }
    if (next < steps_.size()) {
        beginStep(next);
        return;
    }
    if (cancelled_) {
        outcome_ = TestOutcome::Cancelled;
    } else if (noModule_) {
        outcome_ = TestOutcome::NoModule;
    } else if (std::ranges::any_of(
                   steps_, [](const StepResult& s) { return s.verdict == Verdict::Failed; })) {
        outcome_ = TestOutcome::Failed;
    } else if (std::ranges::all_of(
                   steps_, [](const StepResult& s) { return s.verdict == Verdict::Passed; })) {
        outcome_ = TestOutcome::Passed;
    } else {
        outcome_ = TestOutcome::Incomplete;
    }
}

void ModuleTestRunner::abortStep() {
    phaseIndex_ = plans_[stepIndex_].size();
    phaseBegun_ = false;
    moved_ = true;
}

void ModuleTestRunner::abortToRestore() {
    for (std::size_t i = stepIndex_ + 1; i < kRestoreIndex; ++i) {
        steps_[i].verdict = Verdict::Skipped;
    }
    abortStep();
}

std::string ModuleTestRunner::stepKey() const {
    return kStepKeys[stepIndex_];
}

void ModuleTestRunner::addCheck(CheckResult check) {
    check.marginal = isMarginal(check, limits_.marginalFraction);
    steps_[stepIndex_].checks.push_back(std::move(check));
}

bool ModuleTestRunner::sendCommand(const std::string& command) {
    if (command.size() == 2 && command[0] == protocol::kSpeedCommand) {
        lastSpeed_ = command;
    }
    return module_.send(command);
}

double ModuleTestRunner::elapsedInPhase() const {
    return secondsBetween(phaseStarted_, now_);
}

double ModuleTestRunner::nominalRate() const {
    return samplesPerSecondOf(lastSpeed_);
}

std::optional<HostTime> ModuleTestRunner::statusSince(HostTime since,
                                                      std::optional<std::uint8_t> code) const {
    for (const StatusReport& s : statuses_) {
        if (s.at >= since && (!code || s.code == *code)) {
            return s.at;
        }
    }
    return std::nullopt;
}

// --- Progress ---------------------------------------------------------------

double ModuleTestRunner::secondsLeft(HostTime now) const {
    if (outcome_ != TestOutcome::Running) {
        return outcome_ == TestOutcome::NotStarted ? plannedTotal_ : 0.0;
    }
    double left = 0.0;
    for (std::size_t s = stepIndex_; s < plans_.size(); ++s) {
        if (s != stepIndex_ && steps_[s].verdict == Verdict::Skipped) {
            continue;
        }
        const std::size_t from = s == stepIndex_ ? phaseIndex_ : 0;
        for (std::size_t p = from; p < plans_[s].size(); ++p) {
            left += plans_[s][p].plannedSeconds;
        }
    }
    if (phaseBegun_ && phaseIndex_ < plans_[stepIndex_].size()) {
        const double planned = plans_[stepIndex_][phaseIndex_].plannedSeconds;
        left -= std::clamp(secondsBetween(phaseStarted_, now), 0.0, planned);
    }
    return std::max(0.0, left);
}

double ModuleTestRunner::progress(HostTime now) const {
    if (outcome_ == TestOutcome::NotStarted || plannedTotal_ <= 0.0) {
        return 0.0;
    }
    return std::clamp(1.0 - secondsLeft(now) / plannedTotal_, 0.0, 1.0);
}

// --- Phases -----------------------------------------------------------------

ModuleTestRunner::Phase ModuleTestRunner::send(std::vector<std::string> commands) {
    return {0.0,
            [this, commands = std::move(commands)] {
                for (const std::string& command : commands) {
                    if (!sendCommand(command)) {
                        addCheck(unwritten(command));
                        abortToRestore();
                        return;
                    }
                }
            },
            {}};
}

ModuleTestRunner::Phase ModuleTestRunner::settle() {
    return {limits_.settleSeconds, [this] { capture_.open = false; },
            [this] { return elapsedInPhase() >= limits_.settleSeconds; }};
}

ModuleTestRunner::Phase ModuleTestRunner::collect(double seconds) {
    return {seconds,
            [this] {
                capture_ = {};
                capture_.open = true;
            },
            [this, seconds] {
                if (elapsedInPhase() < seconds) {
                    return false;
                }
                closeCapture();
                return true;
            }};
}

// Until the deliveries span `seconds` and the edges in which the counter
// looks for on-time deliveries to open and close its window.
ModuleTestRunner::Phase ModuleTestRunner::collectRate(double seconds) {
    const double span = seconds + kRateEdgeSeconds;
    return {span,
            [this] {
                capture_ = {};
                capture_.rate = SampleRateCounter(nominalRate(), kRateEdgeSeconds);
                capture_.open = true;
            },
            [this, span] {
                if (capture_.rate.spanSeconds() < span) {
                    return false;
                }
                closeCapture();
                return true;
            }};
}

void ModuleTestRunner::closeCapture() {
    capture_.open = false;
    linkErrors_.spikes += repairSpikes(capture_.samples, nominalRate());
}

ModuleTestRunner::Phase ModuleTestRunner::action(std::function<void()> work) {
    return {0.0, std::move(work), {}};
}

ModuleTestRunner::Phase ModuleTestRunner::waitFor(double plannedSeconds,
                                                  std::function<bool()> arrived,
                                                  double timeoutSeconds,
                                                  std::function<void()> onTimeout) {
    return {plannedSeconds,
            {},
            [this, arrived = std::move(arrived), timeoutSeconds, onTimeout = std::move(onTimeout)] {
                if (arrived()) {
                    return true;
                }
                if (elapsedInPhase() <= timeoutSeconds) {
                    return false;
                }
                onTimeout();
                return true;
            }};
}

// Shows `text` until the technician confirms; gives up after the prompt timeout.
ModuleTestRunner::Phase ModuleTestRunner::ask(std::string text) {
    return {kPlannedPrompt,
            [this, text = std::move(text)] {
                prompt_ = text;
                promptShownAt_ = now_;
                confirmedAt_.reset();
            },
            [this] {
                if (confirmedAt_) {
                    return true;
                }
                if (elapsedInPhase() <= limits_.reports.promptTimeoutSeconds) {
                    return false;
                }
                prompt_.clear();
                addCheck(judge("prompt.confirmed", "confirmation by the technician", std::nullopt,
                               "s", atMost(limits_.reports.promptTimeoutSeconds), 0, {}, "none"));
                abortStep();
                return false;
            }};
}

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
        plan.push_back(send({"C"}));
        plan.push_back(collect(limits_.calibration.recordSeconds));
        plan.push_back(action([this, step] {
            const double rate = nominalRate();
            railSamples_ += countRailSamples(capture_.samples);
            pictures_.calibration.push_back(
                {step, rate, capture_.samples, findCalibrationPulse(capture_.samples, rate)});
        }));
    }
    plan.push_back(send({"A1"}));
    plan.push_back(settle());
    plan.push_back(action([this] {
        const auto& limits = limits_.calibration;
        std::vector<std::optional<double>> heights;
        for (const CalibrationTrace& trace : pictures_.calibration) {
            const std::string at = "A" + std::to_string(trace.amplification);
            const std::string id = "cal.a" + std::to_string(trace.amplification);
            if (!trace.pulse) {
                heights.emplace_back();
                addCheck(judge(id + ".height", "calibration pulse at " + at, std::nullopt, "counts",
                               limits.heightCounts[static_cast<std::size_t>(trace.amplification)],
                               1, {}, "no rectangle found"));
                continue;
            }
            const CalibrationPulse& pulse = *trace.pulse;
            heights.emplace_back(pulse.heightCounts);
            addCheck(judge(id + ".height", "calibration height at " + at, pulse.heightCounts,
                           "counts",
                           limits.heightCounts[static_cast<std::size_t>(trace.amplification)]));
            addCheck(judge(id + ".width", "calibration width at " + at, pulse.widthSeconds, "s",
                           limits.widthSeconds, 3));
            addCheck(judge(id + ".droop", "calibration droop at " + at, pulse.droopPercent, "%",
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
    }));
    return plan;
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
            pictures_.leads.push_back(
                {lead.name, beats.rWaves.size(), averageBeats(capture_.samples, beats)});
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
        const double reference = two.beats > 0 ? two.rAmplitude() : 0.0;
        const auto ratio = [&](const AveragedBeat& lead) -> std::optional<double> {
            if (lead.beats == 0 || reference <= 0.0) {
                return std::nullopt;
            }
            return lead.rAmplitude() / reference;
        };
        addCheck(judge("leads.i.ratio", "R wave of lead I over lead II", ratio(one), "",
                       limits.leadIRatio, 2, {}, "no beats to compare"));
        addCheck(judge("leads.iii.ratio", "R wave of lead III over lead II", ratio(three), "",
                       limits.leadIIIRatio, 2, {}, "no beats to compare"));
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
        // Mains hum is there at one frequency or the other, not both: the filter
        // is judged at whichever one is strong enough without its filter. A
        // filter that suppresses it whatever is selected leaves none.
        // Without hum at either frequency (a shielded bench, a battery patient
        // simulator) the filters cannot be judged: that leaves the step
        // incomplete, it is no fault of the module.
        CheckResult hum = judge("mains.hum", "mains hum without its filter",
                                std::max(hum50Unfiltered_, hum60Unfiltered), "counts",
                                atLeast(limits.minHumCounts), 2,
                                format("50 Hz %.2f counts with \"6\", 60 Hz %.2f counts with \"5\"",
                                       hum50Unfiltered_, hum60Unfiltered));
        if (!hum.passed) {
            hum.judged = false;
            hum.reason += ": the filters could not be judged";
        }
        addCheck(std::move(hum));
        struct Tone {
            const char* id;
            const char* name;
            double unfiltered;
            double filtered;
        };
        for (const Tone tone : {Tone{"mains.50hz.suppression", "50 Hz suppression by \"5\"",
                                     hum50Unfiltered_, hum50Filtered},
                                Tone{"mains.60hz.suppression", "60 Hz suppression by \"6\"",
                                     hum60Unfiltered, hum60Filtered_}}) {
            if (tone.unfiltered < limits.minHumCounts) {
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
