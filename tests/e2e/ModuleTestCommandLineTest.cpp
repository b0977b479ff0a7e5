#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "EdfReader.h"
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

// The module test needs no display and no platform set up by the user: it
// chooses its own, so a platform in the environment that does not exist (and
// no display) changes nothing.
// The runs are filed in a results store and settings of this test's own,
// never the user's.
ChildOptions capturingStderr() {
    static const TempFolder user;
    ChildOptions options;
    options.captureStderr = true;
    options.env = {{"QT_QPA_PLATFORM", "no-such-platform"},
                   {"DISPLAY", ""},
                   {"WAYLAND_DISPLAY", ""},
                   {"XDG_DATA_HOME", (user.path() / "data").string()},
                   {"XDG_CONFIG_HOME", (user.path() / "config").string()}};
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

// The shipped limits with the lead-off check asked for.
std::string withLeadOffCheck(const char* limitsPath) {
    std::ifstream file(limitsPath);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string off = "\"leadOffCheck\": false";
    const auto at = text.find(off);
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos) {
        text.replace(at, off.size(), "\"leadOffCheck\": true");
    }
    return text;
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
          folder, "--limits", files.file("leadoff.json", withLeadOffCheck(VITALON_MODEL_LIMITS))},
         "standard input is not a terminal"},
        // No verdict on a module that is not there, unless asked for as a demonstration.
        {"simulated module",
         {"--module-test", "--simulate", "--serial", "REAL-MODULE-42", "--operator", "A",
          "--report-dir", folder},
         "give --demonstration"},
        {"replayed recording",
         {"--module-test", "--replay", files.file("passed.edf"), "--serial", "REAL-MODULE-42",
          "--operator", "A", "--report-dir", folder},
         "give --demonstration"},
        {"production run on the built-in limits",
         {"--module-test", "--production", "--serial", "SN1", "--operator", "A", "--port", port,
          "--report-dir", folder},
         "--production needs --limits"},
        {"production run on the simulated module",
         {"--module-test", "--production", "--simulate", "--demonstration", "--serial", "SN1",
          "--operator", "A", "--limits", VITALON_MODEL_LIMITS, "--report-dir", folder},
         "--production tests a module: it refuses --simulate and --replay"},
        {"production run as a demonstration",
         {"--module-test", "--production", "--demonstration", "--serial", "SN1", "--operator", "A",
          "--port", port, "--limits", VITALON_MODEL_LIMITS, "--report-dir", folder},
         "--production and --demonstration exclude each other"},
        {"--demonstration without --module-test",
         {"--simulate", "--demonstration"},
         "--demonstration needs --module-test"},
        {"--station without --module-test",
         {"--station", "bench-1", "--port", port},
         "--station needs --module-test"},
        {"control characters in the station's name",
         {"--module-test", "--serial", "SN1", "--operator", "A", "--port", port, "--report-dir",
          folder, "--station", "bench\x1b[2J"},
         "The station name \"bench\\x1b[2J\" contains a control character"},
        {"control characters in the serial number",
         {"--module-test", "--serial", "SN\x1b[2J\x1b]0;owned\x07", "--operator", "A", "--port",
          port, "--report-dir", folder},
         "The serial number \"SN\\x1b[2J\\x1b]0;owned\\x07\" contains a control character"},
        {"limits beyond any sense",
         {"--module-test", "--serial", "SN1", "--operator", "A", "--port", port, "--report-dir",
          folder, "--limits",
          files.file("absurd.json", R"({"version": 1, "sampleRate": {"measureSeconds": 1e300}})")},
         "sampleRate.measureSeconds: must be above 0 and at most 600"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChildProcess vitalon("/bin/sh", withoutTerminal(c.args), capturingStderr());
        EXPECT_EQ(vitalon.waitExit(20s), 2);
        EXPECT_NE(vitalon.stderrText().find(c.message), std::string::npos) << vitalon.stderrText();
        EXPECT_EQ(vitalon.stderrText().find('\x1b'), std::string::npos) << "raw escape echoed";
    }
    // A file-size limit too small for the run's files: refused before anything is written.
    ChildProcess limited(
        "/bin/sh",
        {"-c", "exec /usr/bin/prlimit --fsize=100000 -- '" + std::string(VITALON_EXE) +
                   "' --module-test --serial SN1 --operator A --port '" + port +
                   "' --report-dir '" + folder + "' </dev/null"},
        capturingStderr());
    EXPECT_EQ(limited.waitExit(20s), 2);
    EXPECT_NE(limited.stderrText().find("The file-size limit of this process (ulimit -f) is "
                                        "100000 bytes: the run needs about "),
              std::string::npos)
        << limited.stderrText();
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
    EXPECT_NE(vitalon.stderrText().find("INCOMPLETE"), std::string::npos);
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
    EXPECT_NE(vitalon.stderrText().find("module test of SN1: INCOMPLETE"), std::string::npos)
        << vitalon.stderrText();
    EXPECT_NE(vitalon.stderrText().find("step 8/8 Restore: PASS"), std::string::npos);
    EXPECT_GE(reports.entries(), 4u) << "report and recording of the cancelled run";
}

// A demonstration on the simulated module says so on standard error and in
// its report, and a closed terminal (SIGHUP) cancels it like Ctrl+C: the
// module is restored and the cancelled run reported. A "%1" in the serial
// number is shown as typed.
TEST(ModuleTestCommandLine, DemonstrationSaysSoAndHangupRestoresTheModule) {
    const TempFolder reports;
    ChildProcess vitalon(
        VITALON_EXE,
        {"--module-test", "--simulate", "--demonstration", "--serial", "SN%1-7", "--operator", "A",
         "--report-dir", reports.path().string(), "--station", "Line %2"},
        capturingStderr());
    ASSERT_TRUE(vitalon.waitForStderr("step 2/8 Sample rate ...", 20s)) << vitalon.stderrText();
    const std::string start = vitalon.stderrText();
    EXPECT_NE(start.find("module test of SN%1-7 by A on COM1 ("), std::string::npos) << start;
    EXPECT_NE(start.find(") at station Line %2; limits: "), std::string::npos) << start;
    EXPECT_NE(start.find("note: simulated module, not a module result; demonstration limits, "
                         "not a production result"),
              std::string::npos)
        << start;

    EXPECT_EQ(vitalon.stop(SIGHUP, 15s), 130) << vitalon.stderrText();
    const std::string all = vitalon.stderrText();
    EXPECT_NE(all.find("step 8/8 Restore: PASS"), std::string::npos) << all;
    EXPECT_NE(all.find("module test of SN%1-7: INCOMPLETE: simulated module, not a module result"),
              std::string::npos)
        << all;
    std::string json;
    std::vector<std::string> annotations;
    for (const auto& entry : fs::directory_iterator(reports.path())) {
        if (entry.path().extension() == ".json") {
            std::ifstream file(entry.path());
            json.assign(std::istreambuf_iterator<char>(file), {});
        }
        if (entry.path().extension() != ".edf") {
            continue;
        }
        recording::EdfReader reader;
        ASSERT_EQ(reader.open(entry.path().string()), "");
        recording::EdfRecord record;
        for (std::uint64_t i = 0; i < reader.header().usableRecords; ++i) {
            ASSERT_TRUE(reader.readAnnotations(i, record));
            for (const auto& annotation : record.annotations) {
                annotations.push_back(annotation.text);
            }
        }
    }
    // The recording says it too, so that a replay of it cannot pass for a module.
    EXPECT_NE(
        std::find(annotations.begin(), annotations.end(), "simulated module, not a module result"),
        annotations.end());
    EXPECT_NE(json.find(R"("notices": [
        "simulated module, not a module result",
        "demonstration limits, not a production result"
    ])"),
              std::string::npos)
        << json.substr(0, 800);
    EXPECT_NE(json.find(R"("station": "Line %2")"), std::string::npos) << json.substr(0, 800);
}

}  // namespace
}  // namespace vitalon::testing
