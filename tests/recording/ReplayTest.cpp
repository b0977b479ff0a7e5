#include <edflib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <numbers>

#include "EdfReader.h"
#include "EdfRepair.h"
#include "RecordingTestSupport.h"
#include "ReplaySource.h"

namespace vitalon::testing {
namespace {

using recording::EdfRecorder;
using recording::ReplaySource;
using namespace std::chrono_literals;

// Decodes a replay as the program would, noting when each sample came.
struct ReplayedStream {
    ExpectedStream stream;
    std::vector<std::chrono::nanoseconds> sampleTimes;
    StreamDecoder decoder;

    void play(ReplaySource& replay, std::chrono::nanoseconds step,
              std::chrono::nanoseconds until = std::chrono::hours(1)) {
        decoder.addListener(stream);
        std::vector<std::uint8_t> bytes;
        for (std::chrono::nanoseconds t{0}; !replay.finished() && t <= until; t += step) {
            bytes.clear();
            replay.advance(t, bytes);
            const auto before = stream.samples.size();
            decoder.receive(bytes);
            sampleTimes.insert(sampleTimes.end(), stream.samples.size() - before, t);
        }
    }
};

// Records a chain of files: `samples[i]` samples into the i-th, the rate
// changing between them (100, 50, 100, ... a second). The files, in order.
std::vector<std::string> recordChain(const TempDir& dir, const std::string& name,
                                     const std::vector<int>& samples) {
    EdfRecorder recorder;
    auto now = EdfRecorder::Clock::time_point{} + 1h;
    EXPECT_TRUE(recorder.start(setupFor(dir.file(name), 100), now));
    for (std::size_t f = 0; f < samples.size(); ++f) {
        if (f > 0) {
            recorder.setSampleRate(f % 2 ? 50 : 100);
        }
        for (int i = 0; i < samples[f]; ++i) {
            recorder.onSample(static_cast<std::uint8_t>(i % 200));
        }
    }
    recorder.stop();
    EXPECT_EQ(recorder.files().size(), samples.size());
    return recorder.files();
}

TEST(Replay, RecordingComesBackAsTheSameSamplesAndReportsAtTheSameTimes) {
    TempDir dir;
    sim::Scenario scenario;
    scenario.leadOff = {2.0, 3.5};
    ModelSession session(scenario);
    EdfRecorder recorder;
    ExpectedStream recorded;
    session.listen({&recorder, &recorded});
    ASSERT_TRUE(recorder.start(setupFor(dir.file("r.edf"), 100), session.now));
    session.run(6.0, &recorder);
    recorder.stop();

    ReplaySource replay;
    ASSERT_EQ(replay.open(dir.file("r.edf")), "");
    EXPECT_EQ(replay.samplesPerSecond(), 100);
    ReplayedStream replayed;
    replayed.play(replay, 20ms);
    EXPECT_EQ(replay.error(), "");
    EXPECT_EQ(replayed.stream.samples, recorded.samples) << "the padding is not replayed";
    EXPECT_EQ(replayed.stream.reports, recorded.reports);
    // Paced at the recorded rate: sample k no earlier than k / 100 s, within one step.
    for (std::size_t k = 0; k < replayed.sampleTimes.size(); k += 37) {
        const auto due = std::chrono::nanoseconds(k * 10'000'000);
        EXPECT_GE(replayed.sampleTimes[k], due);
        EXPECT_LT(replayed.sampleTimes[k], due + 20ms);
    }
}

TEST(Replay, FollowsTheRecordingIntoTheFileAfterARateChangeAndHoldsItsSilences) {
    TempDir dir;
    EdfRecorder recorder;
    auto now = EdfRecorder::Clock::time_point{} + 1h;
    ASSERT_TRUE(recorder.start(setupFor(dir.file("c.edf"), 100), now));
    for (int i = 0; i < 150; ++i)
        recorder.onSample(static_cast<std::uint8_t>(i));
    recorder.onPulse(80);
    now += 3s;
    recorder.advanceTime(now);
    recorder.onSample(200);  // after a 3 s silence
    recorder.setSampleRate(50);
    for (int i = 0; i < 75; ++i)
        recorder.onSample(static_cast<std::uint8_t>(i + 1));
    recorder.onStatus(17);
    recorder.stop();
    ASSERT_EQ(recorder.files().size(), 2u);

    ReplaySource replay;
    ASSERT_EQ(replay.open(dir.file("c.edf")), "");
    ReplayedStream replayed;
    replayed.play(replay, 10ms);
    EXPECT_EQ(replay.error(), "");
    EXPECT_EQ(replay.currentFile(), dir.file("c-2.edf"));
    EXPECT_EQ(replay.samplesPerSecond(), 50);
    ASSERT_EQ(replayed.stream.samples.size(), 151u + 75u);
    EXPECT_EQ(replayed.stream.samples[150], 200);
    EXPECT_EQ(replayed.stream.samples[151], 1);
    // 1.5 s, then the 3 s silence, then the sample after it.
    EXPECT_NEAR(std::chrono::duration<double>(replayed.sampleTimes[149]).count(), 1.49, 0.011);
    EXPECT_NEAR(std::chrono::duration<double>(replayed.sampleTimes[150]).count(), 4.5, 0.011);
    // The second file at 50 a second, right after the first one's last sample.
    EXPECT_NEAR(std::chrono::duration<double>(replayed.sampleTimes[151]).count(), 4.51, 0.011);
    EXPECT_NEAR(std::chrono::duration<double>(replayed.sampleTimes[152]).count(), 4.53, 0.011);
    EXPECT_EQ(replayed.stream.reports,
              (std::vector<ExpectedStream::Mark>{{149, "Pulse 80"}, {225, "Status 17"}}));
}

// Writes a file as another program might: an EEG signal and an ECG signal
// at 256 samples a second in microvolts.
void writeForeignFile(const std::string& path, bool withEcg) {
    int handle = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, 2);
    ASSERT_GE(handle, 0);
    for (int signal : {0, 1}) {
        edf_set_samplefrequency(handle, signal, signal == 0 ? 100 : 256);
        edf_set_digital_minimum(handle, signal, -32768);
        edf_set_digital_maximum(handle, signal, 32767);
        edf_set_physical_minimum(handle, signal, -2000);
        edf_set_physical_maximum(handle, signal, 2000);
        edf_set_physical_dimension(handle, signal, "uV");
    }
    edf_set_label(handle, 0, "EEG Fpz-Cz");
    edf_set_label(handle, 1, withEcg ? "ECG lead II" : "EMG chin");
    std::vector<double> eeg(100), ecg(256);
    for (int second = 0; second < 4; ++second) {
        for (int i = 0; i < 256; ++i) {
            // A slow sine over the full physical range.
            ecg[i] = 2000 * std::sin(2 * std::numbers::pi * (second * 256 + i) / 1024.0);
        }
        edfwrite_physical_samples(handle, eeg.data());
        edfwrite_physical_samples(handle, ecg.data());
    }
    edfwrite_annotation_utf8(handle, 10000, -1, "Pulse 66");
    edfwrite_annotation_utf8(handle, 12000, -1, "Arousal");
    edfclose_file(handle);
}

TEST(Replay, OtherProgramsFilesAreResampledAndScaledIntoTheSampleRange) {
    TempDir dir;
    writeForeignFile(dir.file("other.edf"), true);
    ReplaySource replay;
    ASSERT_EQ(replay.open(dir.file("other.edf")), "");
    EXPECT_EQ(replay.samplesPerSecond(), 300) << "256 is nearest to 300";
    ASSERT_FALSE(replay.notes().empty());
    EXPECT_NE(replay.notes()[0].find("ECG lead II at 256"), std::string::npos);
    EXPECT_NE(replay.notes()[0].find("ECG lead II at 256 samples a second is replayed at 300"),
              std::string::npos)
        << replay.notes()[0];
    ReplayedStream replayed;
    replayed.play(replay, 100ms);
    const auto& samples = replayed.stream.samples;
    ASSERT_NEAR(double(samples.size()), 4 * 300.0, 2);
    EXPECT_EQ(*std::max_element(samples.begin(), samples.end()), 247);
    EXPECT_EQ(*std::min_element(samples.begin(), samples.end()), 0);
    EXPECT_NEAR(samples[0], 123.5, 1) << "physical 0 is the middle of the range";
    // A quarter period (256 input samples = 300 output samples) is the peak.
    EXPECT_GE(samples[300], 246);
    EXPECT_EQ(replayed.stream.reports, (std::vector<ExpectedStream::Mark>{{300, "Pulse 66"}}));
}

TEST(Replay, FileWithoutAnEcgSignalIsRefusedNamingWhatItHas) {
    TempDir dir;
    writeForeignFile(dir.file("sleep.edf"), false);
    ReplaySource replay;
    EXPECT_EQ(replay.open(dir.file("sleep.edf")),
              dir.file("sleep.edf") +
                  " has no ECG signal to replay (no label holds ECG or EKG; its signals: "
                  "EEG Fpz-Cz, EMG chin)");
    EXPECT_TRUE(replay.finished());
    std::vector<std::uint8_t> bytes;
    replay.advance(1h, bytes);
    EXPECT_TRUE(bytes.empty());
}

TEST(Replay, UnfinishedRecordingIsRepairedWhenOpened) {
    TempDir dir;
    const std::string path = dir.file("u.edf");
    {
        EdfRecorder recorder;
        auto now = EdfRecorder::Clock::time_point{} + 1h;
        ASSERT_TRUE(recorder.start(setupFor(path, 50), now));
        for (int i = 0; i < 120; ++i)
            recorder.onSample(static_cast<std::uint8_t>(i));
        recorder.onPulse(61);
        recorder.advanceTime(now + 1s);
        std::filesystem::copy_file(path, dir.file("copy.edf"));
        std::filesystem::copy_file(recording::journalPath(path),
                                   recording::journalPath(dir.file("copy.edf")));
    }
    ReplaySource replay;
    ASSERT_EQ(replay.open(dir.file("copy.edf")), "");
    ASSERT_EQ(replay.notes().size(), 1u);
    EXPECT_EQ(replay.notes()[0],
              dir.file("copy.edf") + " repaired: 2 complete seconds, 2 annotations restored");
    ReplayedStream replayed;
    replayed.play(replay, 100ms);
    EXPECT_EQ(replayed.stream.samples.size(), 100u);
    EXPECT_EQ(replayed.stream.reports, (std::vector<ExpectedStream::Mark>{{99, "Pulse 61"}}));
}

}  // namespace
}  // namespace vitalon::testing

namespace vitalon::testing {
namespace {

// A chain of files must end. One that comes back to a file already replayed,
// under its own name or another link to it, would replay forever; one whose
// file names itself at its start did so without serving a sample, at full
// speed, and never returned.
TEST(ReplayChain, AChainThatComesBackToAReplayedFileEndsWithTheFilesNamed) {
    TempDir dir;
    const auto files = recordChain(dir, "a.edf", {100, 50, 100});
    ASSERT_EQ(files.size(), 3u);
    // The third file is now the first one under another name.
    std::filesystem::remove(files[2]);
    std::filesystem::create_hard_link(files[0], files[2]);

    ReplaySource replay;
    ASSERT_EQ(replay.open(files[0]), "");
    // What a recording must not write over: the file open and the one it names next.
    EXPECT_EQ(replay.filesInUse(), (std::vector<std::string>{files[0], files[1]}));
    ReplayedStream replayed;
    replayed.play(replay, 100ms);
    EXPECT_TRUE(replay.finished());
    EXPECT_EQ(replayed.stream.samples.size(), 150u) << "each file once";
    EXPECT_EQ(replay.error(),
              files[1] + " names " + files[2] + " as its next file, which was already replayed (" +
                  files[0] + " -> " + files[1] + " -> " + files[2] + "); the replay ends here");
    EXPECT_EQ(replay.playedFiles(), (std::vector<std::string>{files[0], files[1]}));
}

TEST(ReplayChain, ANextFileThatCannotBeReadEndsTheReplayAndIsNotCountedAsPlayed) {
    TempDir dir;
    const auto files = recordChain(dir, "b.edf", {100, 50});
    ASSERT_EQ(files.size(), 2u);
    std::ofstream(files[1], std::ios::trunc) << "not a recording";

    ReplaySource replay;
    ASSERT_EQ(replay.open(files[0]), "");
    ReplayedStream replayed;
    replayed.play(replay, 100ms);
    EXPECT_TRUE(replay.finished());
    EXPECT_EQ(replayed.stream.samples.size(), 100u);
    EXPECT_EQ(replay.error(), files[0] + " names " + files[1] +
                                  " as its next file, which cannot be replayed: Not an EDF file: "
                                  "15 bytes are too few for its 256-byte header");
    EXPECT_EQ(replay.playedFiles(), (std::vector<std::string>{files[0]}));
}

TEST(ReplayChain, AFileThatNamesItselfAtItsStartEndsAtOnceInsteadOfSpinning) {
    TempDir dir;
    // A rate change before the first sample: the first file holds no sample
    // and names the next at onset 0. That next file is now a link to it.
    const auto files = recordChain(dir, "z.edf", {0, 100});
    ASSERT_EQ(files.size(), 2u);
    std::filesystem::remove(files[1]);
    std::filesystem::create_symlink(files[0], files[1]);

    const std::string messageFile = dir.file("message");
    const int status = inChild(
        [&] {
            ReplaySource replay;
            const std::string problem = replay.open(files[0]);
            std::vector<std::uint8_t> bytes;
            replay.advance(1h, bytes);
            std::ofstream(messageFile) << problem << "\n"
                                       << (replay.finished() ? "finished" : "running") << "\n"
                                       << bytes.size() << "\n"
                                       << replay.error() << "\n";
        },
        20);
    ASSERT_TRUE(WIFEXITED(status)) << "the replay never returned";
    std::ifstream in(messageFile);
    std::string problem, state, count, error;
    std::getline(in, problem);
    std::getline(in, state);
    std::getline(in, count);
    std::getline(in, error);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(state, "finished");
    EXPECT_EQ(count, "0");
    EXPECT_EQ(error, files[0] +
                         " names itself as its next file (z-2.edf), a step that goes nowhere; "
                         "the replay ends here");
}

TEST(ReplayChain, AFifoOrADirectoryIsRefusedWithoutWaitingForAWriter) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.edf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(dir.path / "folder.edf");
    const std::string messageFile = dir.file("messages");
    const int status = inChild(
        [&] {
            std::ofstream out(messageFile);
            for (const std::string& path : {fifo, dir.file("folder.edf")}) {
                ReplaySource replay;
                out << replay.open(path) << "\n";
            }
        },
        20);
    ASSERT_TRUE(WIFEXITED(status)) << "opening blocked";
    std::ifstream in(messageFile);
    std::string first, second;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ(first, fifo + " is a FIFO (named pipe), not a regular file");
    EXPECT_EQ(second, dir.file("folder.edf") + " is a directory, not a regular file");
}

TEST(ReplayChain, AnEmptyFirstFileOfARealRecordingStillLeadsIntoTheNext) {
    TempDir dir;
    const auto files = recordChain(dir, "e.edf", {0, 100, 30});
    ReplaySource replay;
    ASSERT_EQ(replay.open(files[0]), "");
    ReplayedStream replayed;
    replayed.play(replay, 100ms);
    EXPECT_TRUE(replay.finished());
    EXPECT_EQ(replay.error(), "");
    EXPECT_EQ(replayed.stream.samples.size(), 130u);
    EXPECT_EQ(replay.playedFiles(), files);
}

}  // namespace
}  // namespace vitalon::testing
