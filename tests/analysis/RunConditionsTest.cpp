#include <gtest/gtest.h>

#include "RunConditions.h"

namespace vitalon::analysis {
namespace {

RunConditions conditions(bool simulated, bool demonstration, bool production, bool builtIn) {
    RunConditions c;
    c.simulatedModule = simulated;
    c.demonstration = demonstration;
    c.production = production;
    c.builtInLimits = builtIn;
    return c;
}

// No verdict without a module unless asked for as a demonstration, and no
// production run on anything but a module and a limits file.
TEST(RunConditions, WhatMayRunAndWhatItsReportMustSay) {
    struct Case {
        RunConditions run;
        const char* problem;  // part of the refusal; empty: may run
        std::vector<std::string> notices;
    };
    const std::string simulated(kSimulatedModuleNotice);
    const std::string limits(kDemonstrationLimitsNotice);
    const Case cases[] = {
        {conditions(false, false, false, false), "", {}},
        {conditions(false, false, false, true), "", {limits}},
        {conditions(true, false, false, false), "give --demonstration", {}},
        {conditions(true, true, false, false), "", {simulated}},
        {conditions(true, true, false, true), "", {simulated, limits}},
        {conditions(false, false, true, false), "", {}},
        {conditions(false, false, true, true), "--production needs --limits", {}},
        {conditions(true, false, true, false), "refuses --simulate and --replay", {}},
        {conditions(true, true, true, false), "refuses --simulate and --replay", {}},
        {conditions(false, true, true, false), "--production and --demonstration", {}},
    };
    for (const Case& c : cases) {
        const std::string problem = commandLineRunProblem(c.run);
        SCOPED_TRACE(problem);
        if (std::string_view(c.problem).empty()) {
            EXPECT_EQ(problem, "");
            EXPECT_EQ(runNotices(c.run), c.notices);
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos);
        }
    }
}

TEST(RunConditions, TypedTextIsShownWithoutItsControlCharacters) {
    EXPECT_EQ(printable("SN-42 %1"), "SN-42 %1");
    EXPECT_EQ(printable("A\x1b[31mB\r\n\x7f"), "A\\x1b[31mB\\x0d\\x0a\\x7f");
    EXPECT_EQ(printable("a\\x"), "a\\\\x") << "a backslash cannot fake an escape";
    EXPECT_EQ(printable("M\xc2\x9b"
                        "2J \xc3\xa9"),
              "M\\x9b2J \xc3\xa9")
        << "C1 CSI, then an e-acute";

    EXPECT_EQ(typedTextProblem("serial number", "SN-\xc3\xa9 %1"), "");
    EXPECT_EQ(typedTextProblem("serial number", "SN\x1b]0;x\x07"),
              "the serial number \"SN\\x1b]0;x\\x07\" contains a control character; type it "
              "without");
    EXPECT_NE(typedTextProblem("operator name", "A\tB"), "");
}

}  // namespace
}  // namespace vitalon::analysis
