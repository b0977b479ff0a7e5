#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "BeatAnalysis.h"
#include "CalibrationPulse.h"
#include "CheckResult.h"
#include "CommandChannel.h"
#include "HostTime.h"
#include "SampleRateCounter.h"
#include "StreamListener.h"
#include "TestLimits.h"

namespace vitalon::analysis {

enum class TestOutcome {
    NotStarted,
    Running,
    Passed,
    Failed,
    // Incomplete, each shown as INCOMPLETE and never as a pass or a fault:
    Cancelled,   // the operator or a signal ended the test
    NoModule,    // no command could be written, or no sample came after the start commands
    Incomplete,  // no fault found, but a check could not be judged
};

// Passed or Failed: the module was judged. Everything else is incomplete.
inline bool isIncomplete(TestOutcome outcome) {
    return outcome == TestOutcome::Cancelled || outcome == TestOutcome::NoModule ||
           outcome == TestOutcome::Incomplete;
}

// What the report draws: the recorded calibration pulses and one averaged beat
// per lead.
struct CalibrationTrace {
    int amplification = 0;  // A0, A1, A2
    double samplesPerSecond = 0.0;
    std::vector<std::uint8_t> samples;      // as recorded after "C", sent several times
    std::optional<CalibrationPulse> pulse;  // the first rectangle found in them
    std::vector<CalibrationPulse> pulses;   // every one found
};

struct LeadBeat {
    std::string lead;  // "I", "II", "III"
    std::size_t beatsFound = 0;
    AveragedBeat average;
    std::optional<double> heartRate;    // per minute
    std::optional<double> noiseCounts;  // between the beats, rms
};

struct TestPictures {
    std::vector<CalibrationTrace> calibration;
    std::vector<LeadBeat> leads;
};

// The module acceptance test: eight steps, each sending commands, settling,
// measuring the decoded stream and judging the measurements against limits.
//
//   1 Link and start state   the start commands, a first sample, status OK
//   2 Sample rate            S1, S2, S0 counted against the host clock, over
//                            deliveries that brought everything made by then
//   3 Calibration pulse      A0, A1, A2, each with "C" three times; height
//                            at the edges, width, droop, the level they
//                            stand on; then A1
//   4 Leads                  G2, G1, G0: beats averaged per lead, Einthoven,
//                            each lead's R wave against lead II's, noise
//                            between the beats; then G1
//   5 Mains filter           at 300/s, hum at 50 and 60 Hz with "6" and "5"
//   6 Simulation mode        "M": rate, steadiness and every report against
//                            the simulation's rates; then "N" and a pulse
//                            report at the patient's rate within a set time
//   7 Reports                the patient's rhythm and every pulse report
//                            against the bench profile; with "D1" the
//                            breaths of the curve and every respiration
//                            report; status intervals; optionally a lead
//                            pulled by the technician
//   8 Restore                the start commands again, samples still coming;
//                            after a test that ran to its end also measured:
//                            the rate at S1, the patient's heart rate, lead
//                            II's R wave as in step 4, a calibration pulse at
//                            A1 as in step 3
//
// It reads no clock: the caller passes the host's monotonic time to start,
// tick, cancel and confirmPrompt. It is a StreamListener on the decoder and
// stamps every event with the time of the latest call, so the caller ticks
// with the arrival time before handing each delivery of bytes to the decoder,
// and also ticks from a timer so that waits end when nothing arrives.
//
// After each command the stream is ignored for the settling time, except after
// "C", whose rectangle comes at once and is recorded from the next delivery on.
//
// Every step also judges the link: bytes the module never sends, status codes
// it has not got and isolated spikes in the waveform (see SampleSpikes.h) are
// counted as link errors of the step they arrive in. A spike is repaired before
// the waveform is measured, so that one corrupted byte fails no check but this.
//
// When the stream stops for longer than the limits allow in steps 2 to 7, the
// step is interrupted and run again from its start, once; a second gap in it
// fails the step and the test goes on to step 8. A command that cannot be
// written ends the test the same way, and so does cancel(): step 8 always runs.
class ModuleTestRunner : public StreamListener {
public:
    ModuleTestRunner(CommandChannel& module, TestLimits limits);

    void start(HostTime now);
    void tick(HostTime now);
    void cancel(HostTime now);
    // The technician has done what prompt() asked.
    void confirmPrompt(HostTime now);

    TestOutcome outcome() const { return outcome_; }
    bool finished() const;
    const std::vector<StepResult>& steps() const { return steps_; }
    // The step under way; nothing before the start and after the end.
    const StepResult* currentStep() const;
    // What the technician is asked to do now; empty for nothing.
    const std::string& prompt() const { return prompt_; }
    // From 0 to 1, and the seconds left, by the planned length of every phase;
    // prompts count with a few seconds each.
    double progress(HostTime now) const;
    double secondsLeft(HostTime now) const;
    const TestPictures& pictures() const { return pictures_; }
    const TestLimits& limits() const { return limits_; }

    // Told when a step starts and when it has its verdict, e.g. for the
    // recording's annotations and the dialog's rows.
    std::function<void(const StepResult&)> onStepStarted;
    std::function<void(const StepResult&)> onStepFinished;

    void onSample(std::uint8_t sample) override;
    void onPulse(std::uint8_t rate) override;
    void onRespiration(std::uint8_t rate) override;
    void onStatus(std::uint8_t code) override;
    void onInvalidByte(std::uint8_t byte) override;

    static constexpr int kStepCount = 8;
    // The sample value of 0 mV.
    static constexpr double kMidScale = 128.0;

private:
    struct Phase {
        double plannedSeconds = 0.0;
        std::function<void()> begin;  // on entering the phase
        std::function<bool()> done;   // asked on every tick; none: done at once
    };
    using Plan = std::vector<Phase>;

    // A pulse or respiration report and where it came in the waveform: after
    // `samplesBefore` samples of the capture.
    struct Report {
        int value = 0;
        std::size_t samplesBefore = 0;
    };
    // Everything received while a capture is open.
    struct Capture {
        bool open = false;
        std::vector<std::uint8_t> samples;
        SampleRateCounter rate;
        std::vector<Report> pulses;
        std::vector<Report> respirations;
    };
    struct StatusReport {
        HostTime at;
        std::uint8_t code;
    };

    void buildPlans();
    Plan linkStep();
    Plan sampleRateStep();
    Plan calibrationStep();
    Plan leadsStep();
    Plan mainsFilterStep();
    Plan simulationStep();
    Plan reportsStep();
    Plan restoreStep();

    // Phase builders.
    Phase send(std::vector<std::string> commands);
    Phase settle();
    Phase collect(double seconds);
    Phase collectRate(double seconds);
    // As collectRate, but ends anyway after the time a pause may last: the
    // restore step is never repeated for a gap.
    Phase collectRateAtMost(double seconds);
    void recordCalibration(Plan& plan, int pulses);
    bool restoreVerifiable() const;
    Phase action(std::function<void()> work);
    Phase waitFor(double plannedSeconds, std::function<bool()> arrived, double timeoutSeconds,
                  std::function<void()> onTimeout);
    Phase ask(std::string text);

    void run();
    void watchStream();
    void beginStep(std::size_t index);
    void finishStep();
    void abortStep();
    void repeatStep();
    void closeCapture();
    void judgeLink();
    // Judges every report of a capture against `accepted`, per minute: the
    // worst one the limits do not allow outside (`id`; with an empty
    // `noneText` reports are optional), and how many lie outside (`id`.outside).
    void judgeReports(const std::string& id, const std::string& name,
                      const std::vector<Report>& reports, Range accepted, int maxOutside,
                      const std::string& noneText);
    void abortToRestore();
    void addCheck(CheckResult check);
    std::string stepKey() const;  // "rate" in step 2: the start of its checks' identifiers
    bool sendCommand(const std::string& command);
    double elapsedInPhase() const;
    double nominalRate() const;
    // Pulse reports that agree with the patient simulator's heart rate.
    Range patientPulse() const;
    std::optional<HostTime> statusSince(HostTime since, std::optional<std::uint8_t> code) const;

    CommandChannel& module_;
    TestLimits limits_;
    std::vector<StepResult> steps_;
    std::vector<Plan> plans_;
    double plannedTotal_ = 0.0;

    TestOutcome outcome_ = TestOutcome::NotStarted;
    bool cancelled_ = false;
    bool noModule_ = false;
    std::size_t stepIndex_ = 0;
    std::size_t phaseIndex_ = 0;
    bool phaseBegun_ = false;
    bool moved_ = false;  // the position was changed under a running phase
    HostTime now_{};
    HostTime phaseStarted_{};

    Capture capture_;
    // Link errors of the running step.
    struct LinkErrors {
        std::size_t invalidBytes = 0;
        std::size_t unknownStatus = 0;
        std::size_t spikes = 0;
        // Reports whose value reads as the waveform around them: a sample byte
        // the line turned into a report marker.
        std::size_t reportsInWaveform = 0;
        std::size_t total() const {
            return invalidBytes + unknownStatus + spikes + reportsInWaveform;
        }
    } linkErrors_;
    std::size_t gapsInStep_ = 0;
    double firstGapSeconds_ = 0.0;
    std::vector<StatusReport> statuses_;
    std::optional<HostTime> lastSampleAt_;
    // Step 1 counts no sample of the first delivery after the start commands,
    // which may hold what the module sent before them.
    bool awaitingFreshSample_ = false;
    std::optional<HostTime> firstDeliveryAt_;
    std::string lastSpeed_ = "S1";
    std::string prompt_;
    HostTime promptShownAt_{};
    std::optional<HostTime> confirmedAt_;

    // Measurements that several phases of one step share.
    HostTime commandsSentAt_{};
    std::size_t railSamples_ = 0;
    std::vector<std::uint8_t> calibrationSamples_;  // a recording of several pulses
    double hum50Unfiltered_ = 0.0, hum60Filtered_ = 0.0;
    HostTime reportsStartedAt_{};
    // After "N": since when a pulse report at the patient's rate is awaited,
    // and when the first came.
    std::optional<HostTime> returnSince_;
    std::optional<HostTime> returnedAt_;

    TestPictures pictures_;
};

}  // namespace vitalon::analysis
