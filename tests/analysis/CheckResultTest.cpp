#include <gtest/gtest.h>

#include "CheckResult.h"

namespace vitalon::analysis {
namespace {

// The texts of a check must give its verdict by themselves: a failed value
// never reads as equal to its limit, a passed one never reads as outside it.
TEST(CheckResult, TextsShowEnoughDigitsToSayWhyTheVerdictIsWhatItIs) {
    struct Case {
        double measured;
        Range limit;
        bool passed;
        const char* reason;
    };
    const Case cases[] = {
        {2.0, atMost(2.0), true, "time without samples: 2.0 s, limit at most 2.0 s"},
        {2.04, atMost(2.0), false, "time without samples: 2.04 s, limit at most 2.00 s"},
        {2.0000004, atMost(2.0), false,
         "time without samples: 2.0000004 s, limit at most 2.0000000 s"},
        {1.96, atMost(1.95), false, "time without samples: 1.96 s, limit at most 1.95 s"},
        {1.949, atMost(1.95), true, "time without samples: 1.95 s, limit at most 1.95 s"},
        {99.04, around(100.0, 1.0), true, "time without samples: 99.0 s, limit 99.0 to 101.0 s"},
        {0.5, around(1.0, 0.2), false, "time without samples: 0.5 s, limit 0.8 to 1.2 s"},
    };
    for (const Case& c : cases) {
        const CheckResult check =
            judge("link.gap", "time without samples", c.measured, "s", c.limit);
        EXPECT_EQ(check.passed, c.passed) << c.reason;
        EXPECT_EQ(check.reason, c.reason);
    }
    // Absurd values stay short.
    const CheckResult huge = judge("rate.s1", "rate", 1e300, "/s", atMost(100.0));
    EXPECT_EQ(huge.measuredText(), "1e+300 /s");
    EXPECT_FALSE(huge.passed);
    EXPECT_EQ(judge("rate.s1", "rate", std::nullopt, "/s", atMost(100.0)).reason,
              "rate: not measured, limit at most 100.0 /s");
}

}  // namespace
}  // namespace vitalon::analysis
