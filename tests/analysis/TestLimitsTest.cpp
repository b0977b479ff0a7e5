#include <gtest/gtest.h>

#include <string>

#include "TestLimits.h"

namespace vitalon::analysis {
namespace {

std::string withHeader(const std::string& body) {
    return R"({"format": "vitalon-module-test-limits", "version": 1)" +
           (body.empty() ? "" : ", " + body) + "}";
}

TEST(TestLimits, ShippedFileHoldsTheDefaultsThatDescribeTheModel) {
    const LimitsLoad load = loadLimitsFile(VITALON_MODEL_LIMITS);
    ASSERT_TRUE(load.limits) << load.error;
    EXPECT_EQ(*load.limits, TestLimits{});
    EXPECT_NE(load.limits->description.find("module model"), std::string::npos);
}

TEST(TestLimits, WrittenLimitsReadBackTheSame) {
    TestLimits limits;
    limits.description = "bench 3, \"quoted\"";
    limits.calibration.heightCounts[2] = {70.5, 90.25};
    limits.leads.minBeats = 9;
    limits.reports.leadOffCheck = true;
    const LimitsLoad load = parseLimits(limitsToJson(limits));
    ASSERT_TRUE(load.limits) << load.error;
    EXPECT_EQ(*load.limits, limits);
}

TEST(TestLimits, KeysLeftOutKeepTheirDefaults) {
    const LimitsLoad load = parseLimits(withHeader(R"("leads": {"minBeats": 8})"));
    ASSERT_TRUE(load.limits) << load.error;
    TestLimits expected;
    expected.leads.minBeats = 8;
    EXPECT_EQ(*load.limits, expected);
}

TEST(TestLimits, MistakesAreRefusedWithTheKeyNamed) {
    struct Case {
        std::string json;
        std::string error;
    };
    const Case cases[] = {
        {"{\"version\": 1,", "not JSON"},
        {"[1]", "must be an object"},
        {R"({"format": "vitalon-module-test-limits"})", "version: missing"},
        {R"({"version": 2})", "version: 2 is not supported"},
        {R"({"format": "other", "version": 1})", "format: \"other\""},
        {withHeader(R"("sampelRate": {})"), "sampelRate: unknown key"},
        {withHeader(R"("leads": {"minBeat": 3})"), "leads.minBeat: unknown key"},
        {withHeader(R"("settleSeconds": "1")"), "settleSeconds: must be a number"},
        {withHeader(R"("sampleRate": {"measureSeconds": 0})"),
         "sampleRate.measureSeconds: must be above 0"},
        {withHeader(R"("leads": {"minBeats": 2.5})"), "leads.minBeats: must be a whole number"},
        {withHeader(R"("reports": {"leadOffCheck": 1})"),
         "reports.leadOffCheck: must be true or false"},
        {withHeader(R"("calibration": {"widthSeconds": {"min": 0.3, "max": 0.2}})"),
         "calibration.widthSeconds: min is above max"},
        {withHeader(R"("calibration": {"heightCounts": [{"min": 1, "max": 2}]})"),
         "calibration.heightCounts: must be a list of 3 ranges"},
        {withHeader(R"("calibration": {"heightCounts": [{}, {}, {"max": "x"}]})"),
         "calibration.heightCounts[2].max: must be a number"},
    };
    for (const Case& c : cases) {
        const LimitsLoad load = parseLimits(c.json);
        EXPECT_FALSE(load.limits) << c.json;
        EXPECT_NE(load.error.find(c.error), std::string::npos) << c.json << "\n" << load.error;
    }
    const LimitsLoad missing = loadLimitsFile("/nonexistent/limits.json");
    EXPECT_EQ(missing.error, "/nonexistent/limits.json: cannot be read");
}

// Values no bench can mean are refused with the key named, before they turn
// into a time left of -9223372036854775808 s or a wait of centuries.
TEST(TestLimits, AbsurdValuesAreRefusedWithTheKeyAndTheRange) {
    struct Case {
        std::string json;
        std::string error;
    };
    const Case cases[] = {
        {withHeader(R"("sampleRate": {"measureSeconds": 1e300})"),
         "sampleRate.measureSeconds: must be above 0 and at most 600"},
        {withHeader(R"("settleSeconds": 1e9)"), "settleSeconds: must be from 0 to 60"},
        {withHeader(R"("reports": {"promptTimeoutSeconds": 86400})"),
         "reports.promptTimeoutSeconds: must be above 0 and at most 3600"},
        {withHeader(R"("sampleRate": {"tolerancePercent": 250})"),
         "sampleRate.tolerancePercent: must be from 0 to 100"},
        {withHeader(R"("simulation": {"heartRate": 1e6})"),
         "simulation.heartRate: must be above 0 and at most 600"},
        {withHeader(R"("leads": {"minBeats": 20000})"),
         "leads.minBeats: must be a whole number from 0 to 10000"},
        {withHeader(R"("link": {"maxErrors": 1001})"),
         "link.maxErrors: must be a whole number from 0 to 1000"},
        {withHeader(R"("link": {"maxErrors": -1})"),
         "link.maxErrors: must be a whole number from 0 to 1000"},
        {withHeader(R"("calibration": {"widthSeconds": {"min": -1e300, "max": 0.2}})"),
         "calibration.widthSeconds.min: must be a number from -1e+06 to 1e+06"},
    };
    for (const Case& c : cases) {
        const LimitsLoad load = parseLimits(c.json);
        EXPECT_FALSE(load.limits) << c.json;
        EXPECT_NE(load.error.find(c.error), std::string::npos) << c.json << "\n" << load.error;
    }
    // The largest allowed values are accepted.
    const LimitsLoad largest = parseLimits(withHeader(
        R"("sampleRate": {"measureSeconds": 600, "tolerancePercent": 100},
           "reports": {"promptTimeoutSeconds": 3600})"));
    EXPECT_TRUE(largest.limits) << largest.error;
}

}  // namespace
}  // namespace vitalon::analysis
