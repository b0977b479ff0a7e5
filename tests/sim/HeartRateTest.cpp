#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ModuleModel.h"
#include "SimTestSupport.h"

namespace vitalon::sim {
namespace {

using testing::decode;
using testing::detectRPeaks;
using testing::rateInWindow;
using testing::run;

constexpr std::uint8_t kPulse = ModuleModel::kPulseMarker;

struct Measured {
    std::vector<double> peaks;  // R waves found by the tests' own detector, seconds
    std::vector<std::pair<double, int>> reports;  // pulse reports: time, value
};

Measured measure(ModuleModel& model, double seconds) {
    const auto stream = decode(run(model, seconds));
    const double rate = model.settings().samplesPerSecond;
    Measured m;
    m.peaks = detectRPeaks(stream.samples, rate);
    for (const auto& r : stream.reports) {
        if (r.marker == kPulse) {
            m.reports.emplace_back(static_cast<double>(r.samplesBefore) / rate, r.value);
        }
    }
    return m;
}

int medianReport(const Measured& m, double from, double length) {
    std::vector<int> values;
    for (const auto& [t, v] : m.reports) {
        if (t >= from && t < from + length) {
            values.push_back(v);
        }
    }
    if (values.empty()) {
        return -1;
    }
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2),
                     values.end());
    return values[values.size() / 2];
}

// Checks every 10 s window that starts in [from, to]: the detected rate is
// within 2 per minute of `expected`, and so is the middle pulse report.
void expectRate(const Measured& m, double expected, double from, double to,
                const std::string& label) {
    for (double start = from; start <= to; start += 1.0) {
        const double detected = rateInWindow(m.peaks, start, 10.0);
        EXPECT_NEAR(detected, expected, 2.0) << label << ", window at " << start << " s";
        EXPECT_NEAR(medianReport(m, start, 10.0), detected, 2.0)
            << label << ", reports in window at " << start << " s";
    }
}

TEST(HeartRate, DetectedAndReportedRatesMatchTheSetRateAtEverySpeed) {
    for (const char* speed : {"S1", "S2", "S0"}) {
        for (const double bpm : {45.0, 75.0, 130.0}) {
            Scenario scenario;
            scenario.heartRate = bpm;
            scenario.seed = static_cast<std::uint64_t>(bpm);
            ModuleModel model(scenario);
            model.receive(speed);
            const Measured m = measure(model, 30.0);
            expectRate(m, bpm, 0.0, 20.0, std::string(speed) + " at " + std::to_string(bpm));
            // One report per beat after the first.
            EXPECT_NEAR(static_cast<double>(m.reports.size()),
                        static_cast<double>(m.peaks.size()) - 1.0, 1.0);
        }
    }
}

TEST(HeartRate, RateStepsAreFollowedWithinAFewBeats) {
    for (const double after : {120.0, 40.0}) {
        Scenario scenario;
        scenario.heartRate = 80.0;
        scenario.rateSteps = {{20.0, after}};
        ModuleModel model(scenario);
        model.receive("S0");
        const Measured m = measure(model, 45.0);
        const std::string label = "80 -> " + std::to_string(after);
        expectRate(m, 80.0, 0.0, 10.0, label);
        expectRate(m, after, 25.0, 35.0, label);
        // The module's own reports follow within its averaging of four beats.
        for (const auto& [t, v] : m.reports) {
            if (t > 20.0 + 5.0 * 60.0 / std::min(after, 80.0)) {
                EXPECT_NEAR(v, after, 4.0) << label << " at " << t << " s";
            }
        }
    }
}

TEST(HeartRate, SimulationModeIsAClean80PerMinute) {
    Scenario scenario;
    scenario.heartRate = 110.0;
    scenario.leadOff = {0.0, kNever};  // the test signal needs no electrodes
    ModuleModel model(scenario);
    model.receive("MS06");  // 50 Hz mains, 60 Hz filter: hum would show
    const auto stream = decode(run(model, 19.5));
    const auto peaks = detectRPeaks(stream.samples, 300.0);
    EXPECT_NEAR(rateInWindow(peaks, 0.0, 19.5), 80.0, 0.5);
    EXPECT_LT(testing::amplitudeAt(stream.samples, 300.0, 50.0), 0.2);
    const auto pulses = stream.values(kPulse);
    EXPECT_GE(pulses.size(), 25u);
    EXPECT_TRUE(std::ranges::all_of(pulses, [](int p) { return p == 80; }));
    const auto statuses = stream.values(ModuleModel::kStatusMarker);
    EXPECT_TRUE(std::ranges::all_of(statuses, [](int s) { return s == 0; }));
    EXPECT_EQ(stream.values(ModuleModel::kRespirationMarker).front(), 20);

    // Back to the patient: lead off now shows.
    model.receive("N");
    EXPECT_EQ(decode(model.advance(0.1)).values(ModuleModel::kStatusMarker),
              std::vector<int>{ModuleModel::kStatusLeadOff});
}

}  // namespace
}  // namespace vitalon::sim
