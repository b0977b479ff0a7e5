#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PtyPair.h"
#include "SimProcess.h"

// The real `vitalon --module-test` against `vitalon-sim` through a
// pseudo-terminal, in real time: a healthy module and a defective one are
// tested side by side, so the two runs take the time of one.
namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct CommandResult {
    int exitCode = -1;
    std::string output;
};

CommandResult runCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, count);
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

fs::path makeTempDir(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() /
        (name + "-" + std::to_string(::getpid()) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    return dir;
}

// The files of the one report in `dir`, by extension.
std::vector<fs::path> filesEndingIn(const fs::path& dir, const std::string& extension) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() == extension) {
            found.push_back(entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The module test needs no display and no platform set up by the user: it
// chooses its own, so a platform in the environment that does not exist (and
// no display) changes nothing.
// The runs are filed in a results store and settings of this test's own,
// never the user's: a serial number that passed there would need a reason.
ChildOptions capturingStderr() {
    struct PrivateUser {
        fs::path root = makeTempDir("vitalon-mt-user");
        ~PrivateUser() { fs::remove_all(root); }
    };
    static const PrivateUser user;
    ChildOptions options;
    options.captureStderr = true;
    options.env = {{"QT_QPA_PLATFORM", "no-such-platform"},
                   {"DISPLAY", ""},
                   {"WAYLAND_DISPLAY", ""},
                   {"XDG_DATA_HOME", (user.root / "data").string()},
                   {"XDG_CONFIG_HOME", (user.root / "config").string()}};
    return options;
}

struct TestedModule {
    TestedModule(const std::string& name, const std::vector<std::string>& simArgs,
                 const std::string& serial)
        : reportDir(makeTempDir(name)),
          sim(simArgs),
          vitalon(VITALON_EXE,
                  {"--module-test", "--serial", serial, "--operator", "CI bench", "--report-dir",
                   reportDir.string(), "--port", "COM1=" + sim.devicePath()},
                  capturingStderr()) {}
    ~TestedModule() { fs::remove_all(reportDir); }

    fs::path reportDir;
    SimProcess sim;
    ChildProcess vitalon;
};

TEST(ModuleTestRun, HealthyModulePassesWithAReportAndADefectiveOneFails) {
    const auto started = std::chrono::steady_clock::now();
    TestedModule healthy("vitalon-healthy", {}, "SN-HEALTHY-1");
    TestedModule defective("vitalon-defective", {"--defect", "rate-3-percent-fast"}, "SN-FAST-2");

    const int healthyExit = healthy.vitalon.waitExit(240s);
    const int defectiveExit = defective.vitalon.waitExit(60s);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("both runs took %.1f s\n", seconds);
    EXPECT_EQ(healthyExit, 0) << healthy.vitalon.stderrText();
    EXPECT_EQ(defectiveExit, 1) << defective.vitalon.stderrText();
    EXPECT_LT(seconds, 180.0) << "a technician waits at most three minutes";

    // The healthy run: PDF, HTML, JSON and the EDF+ recording, all of one name.
    const auto pdfs = filesEndingIn(healthy.reportDir, ".pdf");
    const auto jsons = filesEndingIn(healthy.reportDir, ".json");
    const auto htmls = filesEndingIn(healthy.reportDir, ".html");
    const auto edfs = filesEndingIn(healthy.reportDir, ".edf");
    ASSERT_EQ(pdfs.size(), 1u);
    ASSERT_EQ(jsons.size(), 1u);
    ASSERT_EQ(htmls.size(), 1u);
    ASSERT_GE(edfs.size(), 1u);
    const std::string base = pdfs[0].stem().string();
    EXPECT_TRUE(base.starts_with("SN-HEALTHY-1-")) << base;
    EXPECT_EQ(jsons[0].stem(), base);
    // The recording's first file; each change of speed continues in BASE-2.edf, BASE-3.edf ...
    const fs::path recording = healthy.reportDir / (base + ".edf");
    EXPECT_TRUE(fs::exists(recording));
    for (const auto& file : fs::directory_iterator(healthy.reportDir)) {
        EXPECT_FALSE(file.path().extension() == ".annotations")
            << "journal left behind: " << file.path();
    }

    const CommandResult pdf = runCommand("pdftotext " + quoted(pdfs[0]) + " -");
    ASSERT_EQ(pdf.exitCode, 0) << pdf.output;
    const std::string recordingName = recording.filename().string();
    for (const std::string& expected :
         {std::string("SN-HEALTHY-1"), std::string("CI bench"), std::string("PASS"),
          std::string("2 Sample rate"), std::string("8 Restore"), recordingName}) {
        EXPECT_NE(pdf.output.find(expected), std::string::npos) << expected;
    }
    EXPECT_EQ(pdf.output.find("FAIL"), std::string::npos);

    const CommandResult schema =
        runCommand(std::string(VITALON_PYTHON3) + " " + VITALON_REPORT_VALIDATOR + " " +
                   VITALON_REPORT_SCHEMA + " " + quoted(jsons[0]));
    EXPECT_EQ(schema.exitCode, 0) << schema.output;
    const std::string json = readFile(jsons[0]);
    EXPECT_NE(json.find("\"outcome\": \"pass\""), std::string::npos) << json.substr(0, 400);

    // The recording as an independent reader sees it, over all its files:
    // every step's start and verdict.
    std::string events;
    for (std::size_t i = 0; i < edfs.size(); ++i) {
        const fs::path more = healthy.reportDir / ("biosig-out-" + std::to_string(i));
        ASSERT_EQ(runCommand("save2gdf -f=ASCII " + quoted(edfs[i]) + " " + quoted(more)).exitCode,
                  0);
        events += readFile(more);
    }
    for (int step = 1; step <= 8; ++step) {
        const std::string number = "Step " + std::to_string(step);
        EXPECT_NE(events.find(number + " PASS"), std::string::npos) << number;
    }
    EXPECT_NE(events.find("Step 1 Link and start state"), std::string::npos);
    EXPECT_NE(events.find("Test PASS"), std::string::npos);

    // The defective run names the failed step, its measured value and the limit.
    const std::string errors = defective.vitalon.stderrText();
    EXPECT_NE(errors.find("step 2/8 Sample rate: FAIL: sample rate at S1: 10"), std::string::npos)
        << errors;
    EXPECT_NE(errors.find("limit 99.00 to 101.00 /s"), std::string::npos) << errors;
    // The clock is still fast after the start commands: the restore fails too.
    EXPECT_NE(errors.find("FAIL (failed: 2 Sample rate, 8 Restore)"), std::string::npos) << errors;
    const auto defectiveJson = filesEndingIn(defective.reportDir, ".json");
    ASSERT_EQ(defectiveJson.size(), 1u);
    EXPECT_NE(readFile(defectiveJson[0]).find("\"outcome\": \"fail\""), std::string::npos);
}

}  // namespace
}  // namespace vitalon::testing
