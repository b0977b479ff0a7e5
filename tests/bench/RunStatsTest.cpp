#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "EventLoopWait.h"
#include "MainWindow.h"
#include "PtyPair.h"
#include "RunStats.h"

namespace vitalon {
namespace {

using testing::waitFor;

using namespace std::chrono_literals;

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string reportPath(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

TEST(RunStats, ReportsFirstPaintLabel1TextsLagAndDecodedBytes) {
    testing::PtyPair pty;
    PortAssignment ports;
    ports[0] = PortDevice{pty.slavePath(), {}};
    MainWindow form(ports);
    const std::string path = reportPath("vitalon-runstats-test.report");
    std::filesystem::remove(path);
    const std::int64_t before = RunStats::monotonicNs();
    {
        RunStats stats(form, path, true);
        form.start();
        form.show();
        ASSERT_TRUE(waitFor([&] { return stats.report().rfind("shown ", 0) == 0; }));

        // A pulse report through the line: counted, decoded, shown in Label1, painted.
        pty.write({120, 250, 72, 121});
        ASSERT_TRUE(waitFor([&] {
            return stats.report().find("label1 ") != std::string::npos &&
                   stats.report().find("decoded 4") != std::string::npos;
        }));
        EXPECT_EQ(form.station().vitals().pulseRate, 72);  // the window still gets every byte
        QElapsedTimer idle;  // long enough for the 10 ms lag timer to fire a few times
        idle.start();
        waitFor([&] { return idle.elapsed() > 100; });
    }  // the report is written when the recorder goes

    std::istringstream lines(slurp(path));
    std::int64_t shown = 0, labelAt = 0;
    std::string kind, labelText;
    int lagSamples = 0;
    std::uint64_t decoded = 0;
    while (lines >> kind) {
        if (kind == "shown") {
            lines >> shown;
        } else if (kind == "label1") {
            lines >> labelAt >> labelText;
        } else if (kind == "lag") {
            std::int64_t at = 0;
            int us = -1;
            lines >> at >> us;
            lagSamples += us >= 0 ? 1 : 0;
        } else if (kind == "decoded") {
            lines >> decoded;
        }
    }
    EXPECT_GT(shown, before);
    EXPECT_GE(labelAt, shown);
    EXPECT_EQ(labelText, "72");
    EXPECT_GE(lagSamples, 3);
    EXPECT_EQ(decoded, 4u);
    std::filesystem::remove(path);
}

TEST(RunStats, WithoutTheLagOptionRunsNoTimer) {
    MainWindow form(PortAssignment{});
    const std::string path = reportPath("vitalon-runstats-nolag.report");
    {
        RunStats stats(form, path, false);
        QElapsedTimer idle;
        idle.start();
        waitFor([&] { return idle.elapsed() > 60; });
        EXPECT_EQ(stats.report().find("lag "), std::string::npos);
        EXPECT_NE(stats.report().find("decoded 0"), std::string::npos);
    }
    EXPECT_FALSE(slurp(path).empty());
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace vitalon
