#include <gtest/gtest.h>

#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PtyPair.h"
#include "SimProcess.h"

// `vitalon --module-test` where it cannot run, and when it is interrupted.
// The whole run against the model is in tests/moduletest (label moduletest).
namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class TempFolder {
public:
    TempFolder() {
        path_ = fs::temp_directory_path() /
                ("vitalon-mt-" + std::to_string(::getpid()) + "-" + std::to_string(++count_));
        fs::create_directories(path_);
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }
    std::string file(const std::string& name, const std::string& text = {}) const {
        const fs::path file = path_ / name;
        std::ofstream(file) << text;
        return file.string();
    }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(path_), {}));
    }

private:
    inline static int count_ = 0;
    fs::path path_;
};

ChildOptions capturingStderr() {
    ChildOptions options;
    options.captureStderr = true;
    return options;
}

// Standard input from /dev/null, as under a service manager, whatever the test runs under.
std::vector<std::string> withoutTerminal(const std::vector<std::string>& args) {
    std::string command = "exec '" + std::string(VITALON_EXE) + "'";
    for (const std::string& arg : args) {
        command += " '" + arg + "'";
    }
    return {"-c", command + " </dev/null"};
}

TEST(ModuleTestCommandLine, WhatKeepsATestFromRunningIsNamedWithExitCodeTwo) {
    const TempFolder reports;
    const TempFolder files;
    PtyPair silent;  // a port with no module behind it
    const std::string port = "COM1=" + silent.slavePath();
    const std::string folder = reports.path().string();
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"no operator", {"--module-test", "--serial", "SN1"}, "needs --serial and --operator"},
        {"serial without --module-test",
         {"--serial", "SN1", "--port", port},
         "--serial needs --module-test"},
        {"limits file with a typing mistake",
         {"--module-test", "--serial", "SN1", "--operator", "A", "--port", port, "--report-dir",
          folder, "--limits",
          files.file("bad.json", R"({"version": 1, "sampleRate": {"tolerance": 2}})")},
         "sampleRate.tolerance"},
        {"missing limits file",
         {"--module-test", "--serial", "SN1", "--operator", "A", "--port", port, "--report-dir",
          folder, "--limits", (files.path() / "none.json").string()},
         "none.json cannot be used"},
        {"missing report folder",
         {"--module-test", "--serial", "SN1", "--operator", "A", "--port", port, "--report-dir",
          (files.path() / "gone").string()},
         "does not exist"},
        {"report folder that is a file",
         {"--module-test", "--serial", "SN1", "--operator", "A", "--port", port, "--report-dir",
          files.file("plain")},
         "is not a folder"},
        {"no port",
         {"--module-test", "--serial", "SN1", "--operator", "A", "--report-dir", folder, "--port",
          "COM1=" + (files.path() / "ttyGone").string()},
         "no port is open"},
        {"lead-off check without a terminal",
         {"--module-test", "--serial", "SN1", "--operator", "A", "--port", port, "--report-dir",
          folder, "--limits",
          files.file("leadoff.json", R"({"version": 1, "reports": {"leadOffCheck": true}})")},
         "standard input is not a terminal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChildProcess vitalon("/bin/sh", withoutTerminal(c.args), capturingStderr());
        EXPECT_EQ(vitalon.waitExit(20s), 2);
        EXPECT_NE(vitalon.stderrText().find(c.message), std::string::npos) << vitalon.stderrText();
    }
    EXPECT_EQ(reports.entries(), 0u) << "nothing is written when the test does not run";

    // A port that opens but no module answering: the start commands go out,
    // no sample comes, and the run ends as not run, with its report.
    ChildProcess vitalon(VITALON_EXE,
                         {"--module-test", "--serial", "SN1", "--operator", "A", "--port", port,
                          "--report-dir", folder},
                         capturingStderr());
    EXPECT_EQ(vitalon.waitExit(20s), 2) << vitalon.stderrText();
    EXPECT_NE(vitalon.stderrText().find("first sample after the start commands: none"),
              std::string::npos)
        << vitalon.stderrText();
    EXPECT_NE(vitalon.stderrText().find("NOT RUN"), std::string::npos);
}

TEST(ModuleTestCommandLine, InterruptRestoresTheModuleThenExitsWith130) {
    const TempFolder reports;
    SimProcess sim({"--verbose"});
    ChildProcess vitalon(VITALON_EXE,
                         {"--module-test", "--serial", "SN1", "--operator", "A", "--port",
                          "COM1=" + sim.devicePath(), "--report-dir", reports.path().string()},
                         capturingStderr());
    ASSERT_TRUE(vitalon.waitForStderr("step 2/8 Sample rate ...", 20s)) << vitalon.stderrText();
    ASSERT_TRUE(sim.waitForError("received S1", 5s));
    // Into the count at 50 a second, so that restoring has something to undo.
    ASSERT_TRUE(sim.waitForError("received S2", 30s)) << sim.errorOutput();
    const std::size_t before = sim.errorOutput().size();

    EXPECT_EQ(vitalon.stop(SIGINT, 15s), 130) << vitalon.stderrText();
    const std::string after = sim.errorOutput().substr(before);
    std::vector<std::string> received;
    for (std::size_t at = after.find("received "); at != std::string::npos;
         at = after.find("received ", at + 1)) {
        received.push_back(after.substr(at + 9, after.find('\n', at) - at - 9));
    }
    EXPECT_EQ(received, (std::vector<std::string>{"S1", "A1", "5", "N", "G1", "D0"}));
    EXPECT_NE(vitalon.stderrText().find("module test of SN1: CANCELLED"), std::string::npos)
        << vitalon.stderrText();
    EXPECT_NE(vitalon.stderrText().find("step 8/8 Restore: PASS"), std::string::npos);
    EXPECT_GE(reports.entries(), 4u) << "report and recording of the cancelled run";
}

}  // namespace
}  // namespace vitalon::testing
