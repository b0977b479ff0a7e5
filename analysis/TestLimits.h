#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CheckResult.h"

namespace vitalon::analysis {

// The limits of the module acceptance test. The defaults describe the built-in
// module model; limits/module-model.json holds the same values as a file, and
// docs/module-test-limits.md documents the file format.
struct TestLimits {
    static constexpr int kFormatVersion = 1;
    static constexpr std::string_view kFormatName = "vitalon-module-test-limits";

    // Which limits these are, e.g. "TR71000 production", and their revision,
    // e.g. "3" or "2026-12-08": every report carries both.
    std::string name = "vitalon-sim module model";
    std::string revision = "1";
    std::string description =
        "Describes the built-in module model (vitalon-sim with its default patient: 72 beats "
        "and 15 breaths a minute, R wave axis +49 degrees, 50 Hz hum), not a real module: copy "
        "this file "
        "and adjust it to the modules and the patient simulator "
        "of a test bench.";

    // What the bench feeds the module: the patient simulator on its inputs and
    // the mains around it. Reports and curves are judged against these known
    // values, not only against the module's own signal.
    struct Bench {
        double heartRate = 72.0;           // the patient simulator's, per minute
        double respirationRate = 15.0;     // breaths per minute
        double amplitudeMillivolts = 1.0;  // R wave of lead II
        double axisDegrees = 49.0;         // where its R wave points in the frontal plane
        // Which mains frequencies carry hum on the bench: a filter is judged
        // only at a frequency that does.
        bool hum50Hz = true;
        bool hum60Hz = false;
        bool operator==(const Bench&) const = default;
    } bench;

    // After every command the stream is ignored this long: the module switches,
    // its filters ring out, and bytes sent before the switch drain from the line.
    double settleSeconds = 1.0;

    // A passed value this close to its limit is marked marginal: within this
    // fraction of the accepted range (of the limit itself when one-sided).
    double marginalFraction = 0.1;

    struct Link {
        double samplesWithinSeconds = 2.0;  // first sample after the start commands,
                                            // and the longest pause in the stream
        double statusWithinSeconds = 3.0;   // first status report after them
        // Link errors allowed in one step: bytes the module never sends,
        // unknown status codes, isolated spikes in the waveform.
        int maxErrors = 3;
        bool operator==(const Link&) const = default;
    } link;

    struct SampleRate {
        double measureSeconds = 10.0;  // at each speed
        double tolerancePercent = 1.0;
        bool operator==(const SampleRate&) const = default;
    } sampleRate;

    struct Calibration {
        double recordSeconds = 1.5;  // after "C", at each amplification
        std::array<Range, 3> heightCounts{{{18.0, 22.0}, {36.0, 44.0}, {72.0, 88.0}}};  // A0..A2
        Range widthSeconds{0.18, 0.22};
        double maxDroopPercent = 10.0;
        Range stepRatio{1.8, 2.2};  // the height at each step over the one below
        int maxRailSamples = 0;     // samples at 0 or 247 while the pulses are recorded
        // The level the pulses stand on, away from them, against the mid-scale
        // 128: the median over the three amplifications.
        double maxBaselineOffsetCounts = 8.0;
        bool operator==(const Calibration&) const = default;
    } calibration;

    struct Leads {
        double measureSeconds = 10.0;  // per lead
        int minBeats = 8;
        double maxEinthovenPercent = 10.0;
        Range leadIRatio{0.5, 0.85};    // R wave of lead I over that of lead II
        Range leadIIIRatio{0.15, 0.5};  // R wave of lead III over that of lead II
        double maxNoiseCounts = 1.0;    // between the beats, rms, in every lead
        bool operator==(const Leads&) const = default;
    } leads;

    struct MainsFilter {
        double measureSeconds = 5.0;  // with each filter, at 300 samples a second
        double minSuppressionDb = 20.0;
        double minHumCounts = 1.0;  // hum needed without the filter to judge it by
        bool operator==(const MainsFilter&) const = default;
    } mainsFilter;

    struct Simulation {
        double measureSeconds = 10.0;
        double heartRate = 80.0;        // the module's internal test signal
        double respirationRate = 20.0;  // its breaths per minute
        double maxIntervalDeviationPercent = 5.0;
        // After "N", pulse reports at the patient's rate within this time.
        double returnWithinSeconds = 5.0;
        bool operator==(const Simulation&) const = default;
    } simulation;

    struct Reports {
        // A reported rate agrees with a measured one within the larger of these.
        double rateToleranceBpm = 5.0;
        double rateTolerancePercent = 5.0;
        // A reported respiration rate agrees with the reference within this.
        double respirationTolerance = 2.0;
        // Reports after settling that lie outside their tolerance, each
        // judged on its own: no average hides an intermittent fault.
        int maxPulseOutside = 0;
        int maxRespirationOutside = 0;
        int minPulseReports = 8;
        // Lead II's R wave against bench.amplitudeMillivolts.
        double amplitudeTolerancePercent = 15.0;
        double pulseMeasureSeconds = 15.0;
        double respirationMeasureSeconds = 10.0;  // with "D1"
        int minRespirationReports = 1;
        double maxStatusIntervalSeconds = 3.0;
        bool leadOffCheck = false;  // asks the technician to pull a lead
        double leadOffWithinSeconds = 2.0;
        double promptTimeoutSeconds = 120.0;
        bool operator==(const Reports&) const = default;
    } reports;

    // After the start commands are sent again: the module is back at the start
    // speed, on the patient, lead II and the start amplification.
    struct Restore {
        double measureSeconds = 6.0;  // the rate and lead II, then one calibration pulse
        // Lead II's R wave against the one the leads step measured.
        double maxRWaveChangePercent = 15.0;
        bool operator==(const Restore&) const = default;
    } restore;

    // SHA-256 (hexadecimal) of the text the limits were read from; empty for
    // the built-in limits. Not a limit: equality ignores it.
    std::string sha256;

    // The accepted difference between a reported and a measured rate.
    double rateTolerance(double measuredPerMinute) const;

    bool operator==(const TestLimits& other) const;
};

// The result of reading a limits file: the limits, or what is wrong with it.
struct LimitsLoad {
    std::optional<TestLimits> limits;
    std::string error;  // names the key and the problem
};

// Every value of the format has a floor and a ceiling, so that no limit can
// make its check vacuous (a tolerance of 0 or of 100 %, no beats needed) or
// make a wait endless. `aboveFloor`: the floor itself is refused.
struct LimitBounds {
    std::string key;  // e.g. "leads.minBeats"; a range's bounds hold for both ends
    double floor = 0.0;
    double ceiling = 0.0;
    bool aboveFloor = false;
};
const std::vector<LimitBounds>& limitBounds();

// Reads the JSON limits format. Every key must be there ("format" aside, which
// is checked when given); an unknown key, a missing one, a value of the wrong
// type or outside its bounds, and a version other than kFormatVersion are
// errors naming the key, so a typing mistake cannot pass as a limit. Unknown
// keys and bad values are named before missing ones.
LimitsLoad parseLimits(std::string_view json);
LimitsLoad loadLimitsFile(const std::string& path);

// Every value, in the format parseLimits reads.
std::string limitsToJson(const TestLimits& limits);

}  // namespace vitalon::analysis
