// Recording, replay and repair through the real executables: vitalon and
// vitalon-sim on pseudo-terminals, the files read back with the program's
// own checking reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "EdfReader.h"
#include "EdfRecorder.h"
#include "EdfRepair.h"
#include "FullRateRecording.h"
#include "ModuleModel.h"
#include "PtyPair.h"
#include "SimProcess.h"
#include "StreamDecoder.h"

namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vitalon-e2e-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

struct FileContents {
    std::string problem;
    recording::EdfHeader header;
    std::vector<int> samples;
    std::vector<std::string> annotations;
};

FileContents readBack(const std::string& path) {
    FileContents contents;
    recording::EdfReader reader;
    contents.problem = reader.open(path);
    if (!contents.problem.empty()) {
        return contents;
    }
    contents.header = reader.header();
    recording::EdfRecord record;
    for (std::uint64_t i = 0; i < reader.header().usableRecords; ++i) {
        if (!reader.readRecord(i, record)) {
            contents.problem = "record " + std::to_string(i) + " unreadable";
            return contents;
        }
        const auto& samples = record.samples.at(0);
        contents.samples.insert(contents.samples.end(), samples.begin(), samples.end());
        for (const auto& a : record.annotations) {
            contents.annotations.push_back(a.text);
        }
    }
    return contents;
}

bool has(const std::vector<std::string>& all, const std::string& text) {
    return std::find(all.begin(), all.end(), text) != all.end();
}

// The samples of `bytes` as the program decodes them.
std::vector<int> samplesOf(const std::vector<std::uint8_t>& bytes) {
    struct Samples : StreamListener {
        std::vector<int> values;
        void onSample(std::uint8_t s) override { values.push_back(s); }
    } samples;
    StreamDecoder decoder;
    decoder.addListener(samples);
    decoder.receive(bytes);
    return samples.values;
}

// A recording of the module model, `seconds` long at 100 a second.
std::vector<int> writeModelRecording(const std::string& path, double seconds) {
    sim::Scenario scenario;
    scenario.leadOff = {2.0, 3.0};
    sim::ModuleModel model(scenario);
    StreamDecoder decoder;
    recording::EdfRecorder recorder;
    recording::RecordingSetup setup;
    setup.path = path;
    setup.startTime = std::chrono::system_clock::now();
    auto now = recording::EdfRecorder::Clock::time_point(1h);
    EXPECT_TRUE(recorder.start(setup, now));
    decoder.addListener(recorder);
    std::vector<std::uint8_t> bytes;
    for (int step = 0; step < seconds * 20; ++step) {
        now += 50ms;
        recorder.advanceTime(now);
        const auto chunk = model.advance(50ms);
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
        decoder.receive(chunk);
    }
    recorder.stop();
    return samplesOf(bytes);
}

// Waits until `path` holds at least `records` flushed data records.
bool waitForRecords(const std::string& path, std::uint64_t records, std::chrono::seconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        // Header of 8 x 256 bytes; a record at 100 a second is 884 bytes.
        if (!ec && size >= 2048 + records * 884) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(RecordingE2E, RecordOptionWritesTheSessionFromVitalonSim) {
    TempDir dir;
    const std::string path = dir.file("session.edf");
    SimProcess sim({"--heart-rate", "80"});
    ChildOptions options;
    options.captureStderr = true;
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + sim.devicePath(), "--record", path},
                         options);
    ASSERT_TRUE(waitForRecords(path, 4, 30s)) << vitalon.stderrText();
    EXPECT_EQ(vitalon.stop(SIGTERM, 10s), 0) << vitalon.stderrText();
    EXPECT_NE(vitalon.stderrText().find("Recording saved: " + path), std::string::npos)
        << vitalon.stderrText();

    const FileContents file = readBack(path);
    ASSERT_EQ(file.problem, "");
    EXPECT_TRUE(file.header.consistent());
    EXPECT_EQ(file.header.signalList.at(0).label, "ECG II");
    EXPECT_EQ(file.header.signalList.at(0).samplesPerRecord, 100u);
    EXPECT_NE(file.header.recording.find("Vitalon"), std::string::npos) << file.header.recording;
    EXPECT_NE(file.header.recording.find("COM1"), std::string::npos) << file.header.recording;
    EXPECT_GE(file.samples.size(), 400u);
    EXPECT_TRUE(std::any_of(file.annotations.begin(), file.annotations.end(),
                            [](const std::string& a) { return a.rfind("Pulse ", 0) == 0; }));
    // The start commands, sent just before the file opened, are named in order
    // before anything the module reported.
    const std::vector<std::string> start = {"S1: 100/sec",    "A1: Amp 1",   "5: 50 Hz filter",
                                            "N: Normal mode", "G1: Lead II", "D0: ECG curve"};
    const auto named =
        std::search(file.annotations.begin(), file.annotations.end(), start.begin(), start.end());
    ASSERT_NE(named, file.annotations.end());
    EXPECT_TRUE(std::none_of(file.annotations.begin(), named,
                             [](const std::string& a) { return a.rfind("Pulse ", 0) == 0; }));
    EXPECT_TRUE(has(file.annotations, "Recording ends"));
    EXPECT_FALSE(std::filesystem::exists(path + ".annotations"));
}

TEST(RecordingE2E, VitalonSimReplaysARecordingIntoTheProgramAndIgnoresItsCommands) {
    TempDir dir;
    const std::string original = dir.file("original.edf");
    const std::vector<int> samples = writeModelRecording(original, 4.0);
    const std::string copy = dir.file("copy.edf");

    SimProcess sim({"--verbose", "--replay", original});
    ChildOptions options;
    options.captureStderr = true;
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + sim.devicePath(), "--record", copy},
                         options);
    ASSERT_TRUE(sim.waitForError("replay finished", 30s)) << sim.errorOutput();
    EXPECT_NE(sim.errorOutput().find("(ignored: a replay)"), std::string::npos)
        << sim.errorOutput();
    ASSERT_TRUE(waitForRecords(copy, 4, 10s));
    EXPECT_EQ(vitalon.stop(SIGTERM, 10s), 0) << vitalon.stderrText();

    // The program saw every sample of the recording, in order, and the reports.
    const FileContents file = readBack(copy);
    ASSERT_EQ(file.problem, "");
    ASSERT_GE(file.samples.size(), samples.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), file.samples.begin()));
    EXPECT_TRUE(has(file.annotations, "Lead off"));
    EXPECT_TRUE(has(file.annotations, "Lead back"));
}

TEST(RecordingE2E, ReplayOptionShowsTheRecordingOnTheBuiltInPort) {
    TempDir dir;
    const std::string original = dir.file("original.edf");
    const std::vector<int> samples = writeModelRecording(original, 3.0);
    const std::string copy = dir.file("copy.edf");
    ChildOptions options;
    options.captureStderr = true;
    ChildProcess vitalon(VITALON_EXE, {"--replay", original, "--record", copy}, options);
    ASSERT_TRUE(vitalon.waitForStderr("Replay of original.edf finished", 30s))
        << vitalon.stderrText();
    EXPECT_EQ(vitalon.stop(SIGTERM, 10s), 0) << vitalon.stderrText();
    const FileContents file = readBack(copy);
    ASSERT_EQ(file.problem, "");
    ASSERT_GE(file.samples.size(), samples.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), file.samples.begin()));
    EXPECT_NE(vitalon.stderrText().find("commands do not change a recording"), std::string::npos)
        << vitalon.stderrText();

    ChildProcess broken(VITALON_EXE, {"--replay", dir.file("missing.edf")}, options);
    EXPECT_EQ(broken.waitExit(10s), 1);
    EXPECT_NE(broken.stderrText().find("missing.edf"), std::string::npos) << broken.stderrText();
}

TEST(RecordingE2E, RepairOptionMakesAKilledRecordingConsistent) {
    TempDir dir;
    const std::string path = dir.file("killed.edf");
    SimProcess sim({});
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + sim.devicePath(), "--record", path});
    ASSERT_TRUE(waitForRecords(path, 3, 30s));
    kill(vitalon.pid(), SIGKILL);
    vitalon.waitExit(10s);
    {
        recording::EdfReader reader;
        ASSERT_EQ(reader.open(path), "");
        EXPECT_FALSE(reader.header().consistent());
    }

    ChildOptions options;
    options.captureStderr = true;
    options.env.emplace_back("QT_QPA_PLATFORM", "no-such-platform");  // needs no display
    ChildProcess repair(VITALON_EXE, {"--repair", path}, options);
    EXPECT_EQ(repair.waitExit(20s), 0) << repair.stderrText();
    const FileContents file = readBack(path);
    ASSERT_EQ(file.problem, "");
    EXPECT_TRUE(file.header.consistent());
    EXPECT_GE(file.samples.size(), 300u);
    EXPECT_TRUE(std::any_of(file.annotations.begin(), file.annotations.end(),
                            [](const std::string& a) { return a.rfind("Pulse ", 0) == 0; }));
    EXPECT_FALSE(std::filesystem::exists(path + ".annotations"));

    ChildProcess again(VITALON_EXE, {"--repair", path}, options);
    EXPECT_EQ(again.waitExit(20s), 0);
    std::ofstream(dir.file("text.edf")) << "not a recording";
    ChildProcess refused(VITALON_EXE, {"--repair", dir.file("text.edf")}, options);
    EXPECT_EQ(refused.waitExit(20s), 1);
    EXPECT_NE(refused.stderrText().find("text.edf"), std::string::npos) << refused.stderrText();
}

TEST(RecordingE2E, AMinuteAtThreeHundredSamplesASecondIsRecordedWhole) {
    TempDir dir;
    const std::string path = dir.file("fast.edf");
    const FullRateRun run = recordAtFullRate(path, 1);
    ASSERT_EQ(run.problem, "") << run.errorOutput;
    EXPECT_EQ(run.exitCode, 0) << run.errorOutput;

    // 100 -> 50 -> 300 a second: the stream is in the third file.
    const FileContents file = readBack(dir.file("fast-3.edf"));
    ASSERT_EQ(file.problem, "");
    EXPECT_EQ(file.header.signalList.at(0).samplesPerRecord, 300u);
    const std::vector<int> sent = samplesOf(run.sent);
    ASSERT_EQ(sent.size(), 18000u);
    ASSERT_GE(file.samples.size(), sent.size());
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), file.samples.begin()));
    EXPECT_TRUE(has(readBack(dir.file("fast-2.edf")).annotations, "S0: 300/sec"));
}

}  // namespace
namespace {

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// The replayed file, under another name; an existing file the user did not
// confirm (the command line has no dialog); a device: each refused at
// start-up with the reason and what to do, and left as it was.
TEST(RecordingE2E, ARecordingIsNeverWrittenOverTheReplayAnExistingFileOrADevice) {
    TempDir dir;
    const std::string rec = dir.file("rec.edf");
    writeModelRecording(rec, 2.0);
    const std::string before = contentsOf(rec);
    const std::string same = dir.file("same.edf");
    std::filesystem::create_symlink(rec, same);
    ChildOptions options;
    options.captureStderr = true;
    {
        ChildProcess vitalon(VITALON_EXE, {"--replay", rec, "--record", same}, options);
        ASSERT_TRUE(vitalon.waitForStderr("Replay of rec.edf finished", 30s))
            << vitalon.stderrText();
        EXPECT_NE(vitalon.stderrText().find("vitalon: Cannot record to " + same +
                                            ": it is the file being replayed (" + rec + ")"),
                  std::string::npos)
            << vitalon.stderrText();
        EXPECT_EQ(vitalon.stderrText().find("Recording saved"), std::string::npos);
        EXPECT_EQ(vitalon.stop(SIGTERM, 10s), 0) << vitalon.stderrText();
    }
    EXPECT_TRUE(contentsOf(rec) == before) << "the replayed file was written over";
    EXPECT_FALSE(std::filesystem::exists(recording::journalPath(rec)));

    const std::string other = dir.file("other.edf");
    std::ofstream(other) << "an earlier recording";
    {
        ChildProcess vitalon(VITALON_EXE, {"--replay", rec, "--record", other}, options);
        EXPECT_TRUE(vitalon.waitForStderr(
            "vitalon: Cannot record to " + other +
                ": the file already exists. Give a new file name, or remove the file first to "
                "record over it",
            30s))
            << vitalon.stderrText();
        EXPECT_EQ(vitalon.stop(SIGTERM, 10s), 0) << vitalon.stderrText();
    }
    EXPECT_EQ(contentsOf(other), "an earlier recording");

    const bool hadNullJournal = std::filesystem::exists("/dev/null.annotations");
    {
        ChildProcess vitalon(VITALON_EXE, {"--replay", rec, "--record", "/dev/null"}, options);
        EXPECT_TRUE(vitalon.waitForStderr(
            "vitalon: Cannot record to /dev/null: /dev/null is a character device, not a "
            "regular file",
            30s))
            << vitalon.stderrText();
        EXPECT_EQ(vitalon.stop(SIGTERM, 10s), 0) << vitalon.stderrText();
    }
    if (!hadNullJournal && std::filesystem::exists("/dev/null.annotations")) {
        std::filesystem::remove("/dev/null.annotations");
        ADD_FAILURE() << "a journal was made beside /dev/null";
    }
}

// A recording whose first file names, before its first sample, a next file
// that is a link back to it: both programs end the replay with a message
// naming the files, and the program still answers SIGTERM.
TEST(RecordingE2E, AReplayChainThatComesBackEndsWithItsMessageInBothPrograms) {
    TempDir dir;
    const std::string loop = dir.file("loop.edf");
    {
        recording::EdfRecorder recorder;
        recording::RecordingSetup setup;
        setup.path = loop;
        setup.samplesPerSecond = 100;
        setup.startTime = std::chrono::system_clock::now();
        ASSERT_TRUE(recorder.start(setup, recording::EdfRecorder::Clock::time_point(1h)));
        recorder.setSampleRate(50);
        for (int i = 0; i < 100; ++i) {
            recorder.onSample(static_cast<std::uint8_t>(i));
        }
        recorder.stop();
        ASSERT_EQ(recorder.files().size(), 2u);
        std::filesystem::remove(recorder.files()[1]);
        std::filesystem::create_symlink(loop, recorder.files()[1]);
    }
    const std::string why = loop +
                            " names itself as its next file (loop-2.edf), a step that goes "
                            "nowhere; the replay ends here";
    ChildOptions options;
    options.captureStderr = true;
    ChildProcess vitalon(VITALON_EXE, {"--replay", loop}, options);
    EXPECT_TRUE(vitalon.waitForStderr("vitalon: Replay of loop.edf finished: " + why, 30s))
        << vitalon.stderrText();
    EXPECT_EQ(vitalon.stop(SIGTERM, 10s), 0) << vitalon.stderrText();

    SimProcess sim({"--replay", loop});
    // The replay starts when a program opens the device.
    const int host = ::open(sim.devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(host, 0);
    EXPECT_TRUE(sim.waitForError("vitalon-sim: replay finished after 0.0 s: " + why, 30s))
        << sim.errorOutput();
    ::close(host);
}

// A FIFO would block the repair for ever; a file without records cannot take
// the journal's annotations: both end with exit code 1 and say why, and the
// journal stays.
TEST(RecordingE2E, RepairOfAFifoOrOfAFileWithoutRoomSaysWhatItCouldNotDo) {
    TempDir dir;
    ChildOptions options;
    options.captureStderr = true;
    options.env.emplace_back("QT_QPA_PLATFORM", "no-such-platform");  // needs no display
    const std::string fifo = dir.file("pipe.edf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    {
        ChildProcess repair(VITALON_EXE, {"--repair", fifo}, options);
        EXPECT_EQ(repair.waitExit(20s), 1) << repair.stderrText();
        EXPECT_NE(repair.stderrText().find(fifo + " is a FIFO (named pipe), not a regular file"),
                  std::string::npos)
            << repair.stderrText();
    }

    // A killed recording cut back to its header, its journal beside it.
    const std::string writing = dir.file("writing.edf");
    const std::string path = dir.file("header.edf");
    {
        recording::EdfRecorder recorder;
        recording::RecordingSetup setup;
        setup.path = writing;
        setup.samplesPerSecond = 50;
        setup.startTime = std::chrono::system_clock::now();
        auto now = recording::EdfRecorder::Clock::time_point(1h);
        ASSERT_TRUE(recorder.start(setup, now));
        for (int i = 0; i < 60; ++i) {
            recorder.onSample(static_cast<std::uint8_t>(i));
            recorder.onPulse(static_cast<std::uint8_t>(60 + i % 17));
        }
        recorder.advanceTime(now + 2s);
        std::filesystem::copy_file(writing, path);
        std::filesystem::copy_file(recording::journalPath(writing), recording::journalPath(path));
    }
    std::filesystem::resize_file(path,
                                 256 * 8);  // the header of one signal and six annotation ones
    const std::string journal = contentsOf(recording::journalPath(path));
    ASSERT_FALSE(journal.empty());
    ChildProcess repair(VITALON_EXE, {"--repair", path}, options);
    EXPECT_EQ(repair.waitExit(20s), 1) << repair.stderrText();
    EXPECT_NE(repair.stderrText().find("annotations did not fit into the file"), std::string::npos)
        << repair.stderrText();
    EXPECT_EQ(repair.stderrText().find("restored"), std::string::npos) << repair.stderrText();
    EXPECT_TRUE(contentsOf(recording::journalPath(path)) == journal) << "the journal changed";
}

}  // namespace vitalon::testing
