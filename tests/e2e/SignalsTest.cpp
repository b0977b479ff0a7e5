// Signals that used to end the program without a trace: a closed terminal
// (SIGHUP) and a write beyond the file-size limit (SIGXFSZ), on a recording.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include "EdfReader.h"
#include "PtyPair.h"
#include "SimProcess.h"

namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "vitalon-signals-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

// Waits until `path` has reached `bytes` on disk.
bool waitForSize(const std::string& path, std::uintmax_t bytes, std::chrono::seconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        std::error_code ec;
        if (fs::file_size(path, ec) >= bytes && !ec) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// The annotations of a recording as the program's checking reader sees them;
// empty with `problem` set when it cannot be read.
std::vector<std::string> annotationsOf(const std::string& path, std::string& problem) {
    std::vector<std::string> texts;
    recording::EdfReader reader;
    problem = reader.open(path);
    recording::EdfRecord record;
    for (std::uint64_t i = 0; problem.empty() && i < reader.header().usableRecords; ++i) {
        if (!reader.readAnnotations(i, record)) {
            problem = "record " + std::to_string(i) + " unreadable";
        }
        for (const auto& a : record.annotations) {
            texts.push_back(a.text);
        }
    }
    return texts;
}

ChildOptions capturingStderr() {
    ChildOptions options;
    options.captureStderr = true;
    return options;
}

// A closed terminal or a logout ends the program as SIGTERM does: the
// recording is closed whole, its journal removed, exit code 0.
TEST(Signals, HangupClosesTheRecordingLikeTerminate) {
    TempDir dir;
    const std::string path = dir.file("hangup.edf");
    SimProcess sim({});
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + sim.devicePath(), "--record", path},
                         capturingStderr());
    // Header (8 x 256 bytes) and two records of 884 bytes at 100 a second.
    ASSERT_TRUE(waitForSize(path, 2048 + 2 * 884, 30s)) << vitalon.stderrText();
    EXPECT_EQ(vitalon.stop(SIGHUP, 10s), 0) << vitalon.stderrText();
    EXPECT_NE(vitalon.stderrText().find("Recording saved: " + path), std::string::npos)
        << vitalon.stderrText();
    std::string problem;
    const auto annotations = annotationsOf(path, problem);
    ASSERT_EQ(problem, "");
    EXPECT_NE(std::find(annotations.begin(), annotations.end(), "Recording ends"),
              annotations.end());
    EXPECT_FALSE(fs::exists(path + ".annotations"));
}

// Under a file-size limit the write that crosses it fails (SIGXFSZ is
// ignored) and ends the recording as a full disk does: the program goes on,
// names the reason, and keeps what fits as a readable file.
TEST(Signals, FileSizeLimitEndsTheRecordingNotTheProgram) {
    TempDir dir;
    const std::string path = dir.file("limited.edf");
    SimProcess sim({});
    constexpr int kLimit = 6000;  // the header and about four seconds
    ChildProcess vitalon("/usr/bin/prlimit",
                         {"--fsize=" + std::to_string(kLimit), "--", VITALON_EXE, "--port",
                          "COM1=" + sim.devicePath(), "--record", path},
                         capturingStderr());
    ASSERT_TRUE(vitalon.waitForStderr("Recording stopped: cannot write " + path, 30s))
        << vitalon.stderrText();
    EXPECT_NE(vitalon.stderrText().find("(File too large (the file-size limit is 6000 bytes))"),
              std::string::npos)
        << vitalon.stderrText();
    EXPECT_TRUE(vitalon.running()) << "ended by the limit: " << vitalon.stderrText();
    EXPECT_EQ(vitalon.stop(SIGTERM, 10s), 0) << vitalon.stderrText();
    std::string problem;
    annotationsOf(path, problem);
    EXPECT_EQ(problem, "");
    EXPECT_LE(fs::file_size(path), std::uintmax_t(kLimit));
}

}  // namespace
}  // namespace vitalon::testing
