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
    if (awaitingFreshSample_) {
        // The first delivery may hold samples sent before the start commands
        // (the adapter's or the system's buffer): only a later one shows that
        // the module answers.
        if (!firstDeliveryAt_) {
            firstDeliveryAt_ = now_;
        }
        if (now_ > *firstDeliveryAt_) {
            awaitingFreshSample_ = false;
            lastSampleAt_ = now_;
        }
    } else {
        lastSampleAt_ = now_;
    }
    if (capture_.open) {
        capture_.samples.push_back(sample);
        capture_.rate.add(now_);
    }
}

void ModuleTestRunner::onPulse(std::uint8_t rate) {
    if (capture_.open) {
        capture_.pulses.push_back({rate, capture_.samples.size()});
    }
    if (returnSince_ && !returnedAt_ && now_ >= *returnSince_ && patientPulse().contains(rate)) {
        returnedAt_ = now_;
    }
}

void ModuleTestRunner::onRespiration(std::uint8_t rate) {
    if (capture_.open) {
        capture_.respirations.push_back({rate, capture_.samples.size()});
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
    if (e.reportsInWaveform > 0) {
        detail += ", " + std::to_string(e.reportsInWaveform) + " reports read from the waveform";
    }
    if (gapsInStep_ == 1) {
        detail += format("; the step was repeated after %.1f s without samples", firstGapSeconds_);
    }
    addCheck(judge(stepKey() + ".link-errors", "link errors", static_cast<double>(e.total()), "",
                   atMost(limits_.link.maxErrors), 0, detail));
}

void ModuleTestRunner::beginStep(std::size_t index) {
    if (index > 0) {
        awaitingFreshSample_ = false;
    }
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

ModuleTestRunner::Phase ModuleTestRunner::collectRateAtMost(double seconds) {
    Phase phase = collectRate(seconds);
    const double longest = seconds + kRateEdgeSeconds + limits_.link.samplesWithinSeconds;
    phase.done = [this, span = seconds + kRateEdgeSeconds, longest] {
        if (capture_.rate.spanSeconds() < span && elapsedInPhase() < longest) {
            return false;
        }
        closeCapture();
        return true;
    };
    return phase;
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
                // Nobody did what was asked: the module could not be judged
                // by it, which is no fault of the module.
                CheckResult unanswered =
                    judge("prompt.confirmed", "confirmation by the technician", std::nullopt, "s",
                          atMost(limits_.reports.promptTimeoutSeconds), 0, {}, "none");
                unanswered.judged = false;
                unanswered.reason += ": the step could not be judged";
                addCheck(std::move(unanswered));
                abortStep();
                return false;
            }};
}

}  // namespace vitalon::analysis
