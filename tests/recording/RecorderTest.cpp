#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "EdfReader.h"
#include "EdfRepair.h"
#include "RecordingTestSupport.h"

namespace vitalon::testing {
namespace {

using recording::EdfReader;
using recording::EdfRecord;
using recording::EdfRecorder;

constexpr std::time_t kStart = 1'800'000'000;

// A file as an independent reader (BioSig's save2gdf, from Debian) sees it:
// the waveform's values and the events with their sample positions.
struct IndependentRead {
    double rate = 0;
    std::vector<int> samples;
    std::multimap<std::uint64_t, std::string> events;
};

IndependentRead readWithBiosig(const std::string& edf, const TempDir& dir) {
    const std::string out = dir.file("biosig-out");
    const std::string command = "save2gdf -f=ASCII '" + edf + "' '" + out + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    IndependentRead read;
    std::ifstream header(out);
    std::string line;
    bool events = false;
    while (std::getline(header, line)) {
        if (line.starts_with("SamplingRate")) {
            read.rate = std::stod(line.substr(line.find('=') + 1));
        } else if (line.starts_with("[EVENT TABLE]")) {
            events = true;
            std::getline(header, line);  // column names
        } else if (events && !line.empty()) {
            std::istringstream fields(line);
            std::string type, position, duration, channel, text;
            std::getline(fields, type, '\t');
            std::getline(fields, position, '\t');
            std::getline(fields, duration, '\t');
            std::getline(fields, channel, '\t');
            std::getline(fields, text);
            read.events.emplace(std::llround(std::stod(position) * read.rate), text);
        }
    }
    std::ifstream values(out + ".a01");
    double value = 0;
    while (values >> value) {
        read.samples.push_back(static_cast<int>(std::lround(value)));
    }
    return read;
}

bool hasEvent(const IndependentRead& read, std::uint64_t sample, const std::string& text) {
    auto [from, to] = read.events.equal_range(sample);
    return std::any_of(from, to, [&](const auto& e) { return e.second == text; });
}

TEST(EdfRecorder, ModelStreamReadsBackIdenticallyWithAnIndependentReader) {
    TempDir dir;
    sim::Scenario scenario;
    scenario.leadOff = {4.0, 6.5};
    ModelSession session(scenario);
    session.model.receive("S0");  // 300 a second
    EdfRecorder recorder;
    ExpectedStream expected;
    session.listen({&recorder, &expected});
    ASSERT_TRUE(recorder.start(setupFor(dir.file("session.edf")), session.now));
    session.run(9.3, &recorder);
    recorder.annotate("S2: 50/sec");
    const auto commandAt = expected.before();
    recorder.stop();
    ASSERT_EQ(recorder.error(), "");

    auto read = readWithBiosig(dir.file("session.edf"), dir);
    EXPECT_EQ(read.rate, 300);
    ASSERT_EQ(read.samples.size(), 10u * 300) << "nine full seconds and the padded tenth";
    EXPECT_TRUE(std::equal(expected.samples.begin(), expected.samples.end(), read.samples.begin()));
    ASSERT_GT(expected.reports.size(), 10u);
    for (const auto& report : expected.reports) {
        EXPECT_TRUE(hasEvent(read, report.sample, report.text))
            << report.text << " at sample " << report.sample;
    }
    EXPECT_TRUE(hasEvent(read, 0, "Amp 1"));
    EXPECT_TRUE(hasEvent(read, commandAt, "S2: 50/sec"));
    EXPECT_TRUE(hasEvent(read, expected.samples.size(), "Recording ends"));
    EXPECT_EQ(read.events.count(4 * 300) + read.events.size() > 0, true);
    auto leadOff = std::find_if(read.events.begin(), read.events.end(),
                                [](const auto& e) { return e.second == "Lead off"; });
    auto leadBack = std::find_if(read.events.begin(), read.events.end(),
                                 [](const auto& e) { return e.second == "Lead back"; });
    ASSERT_NE(leadOff, read.events.end());
    ASSERT_NE(leadBack, read.events.end());
    EXPECT_NEAR(double(leadOff->first) / 300, 4.0, 0.05);
    EXPECT_NEAR(double(leadBack->first) / 300, 6.5, 0.05);
    EXPECT_FALSE(std::filesystem::exists(recording::journalPath(dir.file("session.edf"))));
}

TEST(EdfRecorder, HeaderNamesTheProgramPortDeviceAndAnHonestScale) {
    TempDir dir;
    ModelSession session;
    EdfRecorder recorder;
    session.listen({&recorder});
    auto setup = setupFor(dir.file("h.edf"), 100);
    setup.waveform = recording::Waveform::Respiration;
    ASSERT_TRUE(recorder.start(setup, session.now));
    session.run(1.0, &recorder);
    recorder.stop();

    EdfReader reader;
    ASSERT_EQ(reader.open(dir.file("h.edf")), "");
    const auto& h = reader.header();
    EXPECT_TRUE(h.edfPlus);
    EXPECT_FALSE(h.discontinuous);
    EXPECT_TRUE(h.consistent());
    EXPECT_EQ(h.patient, "X X X X");
    EXPECT_NE(h.recording.find("Vitalon_1.4.0"), std::string::npos) << h.recording;
    EXPECT_NE(h.recording.find("COM1 /dev/pts/7"), std::string::npos) << h.recording;
    ASSERT_EQ(reader.ordinarySignals().size(), 1u);
    const auto& s = h.signalList[reader.ordinarySignals()[0]];
    EXPECT_EQ(s.label, "Resp");
    EXPECT_EQ(s.dimension, "counts");
    EXPECT_EQ(s.digitalMinimum, 0);
    EXPECT_EQ(s.digitalMaximum, 255);
    EXPECT_EQ(s.physicalMinimum, 0);
    EXPECT_EQ(s.physicalMaximum, 255);
    EXPECT_EQ(s.samplesPerRecord, 100u);
    EXPECT_EQ(h.recordSeconds, 1.0);
}

TEST(EdfRecorder, RateChangeContinuesInTheNextFileWhichTheLastAnnotationNames) {
    TempDir dir;
    ModelSession session;
    EdfRecorder recorder;
    ExpectedStream first, second;
    session.listen({&recorder, &first});
    auto setup = setupFor(dir.file("chain.edf"), 100);
    setup.startTime = std::chrono::system_clock::from_time_t(kStart);
    ASSERT_TRUE(recorder.start(setup, session.now));
    session.run(2.5, &recorder);
    recorder.annotate("S2: 50/sec");
    session.model.receive("S2");
    recorder.setSampleRate(50);
    recorder.annotate("A2: Amp 2");  // amplification stays in the same file
    session.listen({&recorder, &second});
    session.run(2.0, &recorder);
    recorder.stop();

    ASSERT_EQ(recorder.files(),
              (std::vector<std::string>{dir.file("chain.edf"), dir.file("chain-2.edf")}));
    auto one = readWithBiosig(dir.file("chain.edf"), dir);
    EXPECT_EQ(one.rate, 100);
    ASSERT_GE(one.samples.size(), first.samples.size());
    EXPECT_TRUE(std::equal(first.samples.begin(), first.samples.end(), one.samples.begin()));
    const auto end = first.samples.size();
    ASSERT_FALSE(one.events.empty());
    EXPECT_EQ(one.events.rbegin()->second, "Next file chain-2.edf");
    EXPECT_EQ(one.events.rbegin()->first, end);

    auto two = readWithBiosig(dir.file("chain-2.edf"), dir);
    EXPECT_EQ(two.rate, 50);
    EXPECT_TRUE(std::equal(second.samples.begin(), second.samples.end(), two.samples.begin()));
    EXPECT_TRUE(hasEvent(two, 0, "Follows chain.edf"));
    EXPECT_TRUE(hasEvent(two, 0, "A2: Amp 2"));
    EXPECT_EQ(two.events.rbegin()->second, "Recording ends");

    // The second file starts in the second where the first one's samples end.
    EdfReader b;
    ASSERT_EQ(b.open(dir.file("chain-2.edf")), "");
    std::time_t continued = kStart + 2;
    std::tm local{};
    localtime_r(&continued, &local);
    char expectedTime[16];
    std::strftime(expectedTime, sizeof expectedTime, "%H.%M.%S", &local);
    EXPECT_EQ(b.header().startTime, expectedTime);
}

TEST(EdfRecorder, SilencesHostTextsAndAFloodOfReportsAreAllAccountedFor) {
    TempDir dir;
    EdfRecorder recorder;
    auto now = EdfRecorder::Clock::time_point{} + std::chrono::hours(1);
    ASSERT_TRUE(recorder.start(setupFor(dir.file("kinds.edf"), 50), now));
    // A burst before the first record: the start commands, as recorded from start-up.
    const std::vector<std::string> commands = {"S1: 100/sec", "A1: Amp 1", "5: 50 Hz",
                                               "N: Normal",   "G1: II",    "D0: EKG"};
    for (const auto& command : commands)
        recorder.annotate(command);
    for (int i = 0; i < 60; ++i)
        recorder.onSample(100);
    recorder.annotate("Watchdog: No Data!");
    now += std::chrono::seconds(7);  // nothing arrives for 7 s
    recorder.advanceTime(now);
    recorder.annotate("Watchdog: data again");
    recorder.onSample(101);
    // A stream of nothing but pulse reports: far more than the file has room for.
    for (int i = 0; i < 5000; ++i)
        recorder.onPulse(static_cast<std::uint8_t>(i));
    for (int i = 0; i < 39; ++i)
        recorder.onSample(102);
    recorder.annotate("Link lost: COM1");
    recorder.stop();
    ASSERT_EQ(recorder.error(), "");

    auto read = readWithBiosig(dir.file("kinds.edf"), dir);
    for (const auto& command : commands)
        EXPECT_TRUE(hasEvent(read, 0, command)) << command;
    EXPECT_TRUE(hasEvent(read, 59, "Watchdog: No Data!"));
    EXPECT_TRUE(hasEvent(read, 59, "No data for 7 s")) << "at the last sample before the silence";
    EXPECT_TRUE(hasEvent(read, 59, "Watchdog: data again"));
    std::uint64_t inFile = 0, leftOut = 0;
    for (const auto& [at, text] : read.events) {
        if (text.starts_with("Pulse ") || text == "Link lost: COM1")
            ++inFile;
        if (text.ends_with(" annotations left out"))
            leftOut += std::stoull(text);
    }
    EXPECT_GT(inFile, 0u);
    EXPECT_GT(leftOut, 0u);
    EXPECT_EQ(inFile + leftOut, 5000u + 1) << "every event is either in the file or counted";
    EXPECT_EQ(read.events.rbegin()->second, "Recording ends");
}

TEST(EdfRecorder, EveryCompleteSecondIsOnDiskWithinTwoSeconds) {
    TempDir dir;
    const std::string path = dir.file("flush.edf");
    EdfRecorder recorder;
    auto now = EdfRecorder::Clock::time_point{} + std::chrono::hours(1);
    ASSERT_TRUE(recorder.start(setupFor(path, 100), now));
    const std::uint64_t header = 256 * 8, record = 200 + 6 * 114;
    std::vector<EdfRecorder::Clock::time_point> completed;  // when each record was complete
    // Reads of 130 ms each, the host's clock call before each.
    for (int read = 0; read < 120; ++read) {
        now += std::chrono::milliseconds(130);
        recorder.advanceTime(now);
        const auto onDisk = std::filesystem::file_size(path);
        for (std::size_t k = 0; k < completed.size(); ++k) {
            if (now - completed[k] >= std::chrono::seconds(2)) {
                ASSERT_GE(onDisk, header + (k + 1) * record)
                    << "record " << k << " at read " << read;
            }
        }
        for (int i = 0; i < 13; ++i) {
            recorder.onSample(100);
            if (recorder.recordedSeconds() == double(completed.size() + 1)) {
                completed.push_back(now);
            }
        }
    }
    EXPECT_GE(completed.size(), 15u);
}

TEST(EdfRecorder, AMinuteOfBurstsAt96000BytesASecondIsAllWritten) {
    TempDir dir;
    ModelSession session;
    session.model.receive("S0");
    auto stream = session.model.advance(320.0);  // what 96,000 bytes a second carry at 300 a second
    EdfRecorder recorder;
    ExpectedStream expected;
    session.listen({&recorder, &expected});
    ASSERT_TRUE(recorder.start(setupFor(dir.file("burst.edf")), session.now));
    std::size_t sent = 0;
    for (int second = 0; second < 60; ++second) {
        for (int burst = 0; burst < 6; ++burst) {  // six bursts of 16,000 bytes
            std::span<const std::uint8_t> bytes(
                stream.data() + sent % stream.size(),
                std::min<std::size_t>(16'000, stream.size() - sent % stream.size()));
            session.decoder.receive(bytes);
            sent += bytes.size();
        }
        session.now += std::chrono::seconds(1);
        recorder.advanceTime(session.now);
    }
    recorder.stop();
    ASSERT_EQ(recorder.error(), "");
    ASSERT_GT(sent, 5'000'000u);

    EdfReader reader;
    ASSERT_EQ(reader.open(dir.file("burst.edf")), "");
    ASSERT_TRUE(reader.header().consistent());
    std::vector<int> samples;
    EdfRecord record;
    for (std::uint64_t r = 0; r < reader.header().usableRecords; ++r) {
        ASSERT_TRUE(reader.readRecord(r, record));
        samples.insert(samples.end(), record.samples[0].begin(), record.samples[0].end());
    }
    ASSERT_GE(samples.size(), expected.samples.size());
    EXPECT_TRUE(std::equal(expected.samples.begin(), expected.samples.end(), samples.begin()));
}

TEST(EdfRecorder, KilledMidRecordingKeepsEveryFlushedSecondAndRepairRestoresTheRest) {
    TempDir dir;
    const std::string path = dir.file("killed.edf");
    ExpectedStream expected;
    int status = inChild([&] {
        ModelSession session;
        session.model.receive("S0");
        EdfRecorder recorder;
        session.listen({&recorder});
        recorder.start(setupFor(path), session.now);
        session.run(6.5, &recorder);  // flushes once a second on the way
        raise(SIGKILL);
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    // The same stream again, to know what the file should hold.
    ModelSession again;
    again.model.receive("S0");
    again.listen({&expected});
    again.run(6.5, nullptr);

    EdfReader before;
    ASSERT_EQ(before.open(path), "");
    EXPECT_EQ(before.header().declaredRecords, -1);
    EXPECT_FALSE(before.header().consistent());
    EXPECT_GE(before.header().recordsOnDisk, 5u) << "every second up to the last flush";
    ASSERT_TRUE(std::filesystem::exists(recording::journalPath(path)));

    auto result = recording::repairRecording(path);
    ASSERT_EQ(result.outcome, recording::RepairResult::Outcome::Repaired) << result.message;
    EXPECT_GT(result.restoredAnnotations, 5u);
    EXPECT_FALSE(std::filesystem::exists(recording::journalPath(path)));
    EXPECT_EQ(recording::repairRecording(path).outcome,
              recording::RepairResult::Outcome::AlreadyConsistent);

    auto read = readWithBiosig(path, dir);
    ASSERT_EQ(read.samples.size(), result.records * 300);
    EXPECT_TRUE(std::equal(read.samples.begin(), read.samples.end(), expected.samples.begin()));
    // A report right after the last sample of the last record may have come
    // after the last flush; all before it were flushed with their records.
    for (const auto& report : expected.reports) {
        if (report.sample + 1 < read.samples.size()) {
            EXPECT_TRUE(hasEvent(read, report.sample, report.text)) << report.text;
        }
    }
}

TEST(EdfRecorder, FullDiskStopsTheRecordingWithAMessageAndLeavesAValidFile) {
    TempDir dir;
    const std::string path = dir.file("full.edf");
    const std::string messageFile = dir.file("message");
    int status = inChild([&] {
        signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail with EFBIG instead
        rlimit limit{20000, 20000};
        setrlimit(RLIMIT_FSIZE, &limit);
        ModelSession session;
        session.model.receive("S0");
        EdfRecorder recorder;
        std::string told;
        recorder.onError = [&](const std::string& text) { told = text; };
        session.listen({&recorder});
        recorder.start(setupFor(path), session.now);
        session.run(30, &recorder);
        std::ofstream(messageFile) << (recorder.isRecording() ? "still recording" : told);
    });
    ASSERT_TRUE(WIFEXITED(status));
    std::string message;
    std::getline(std::ifstream(messageFile), message);
    EXPECT_TRUE(message.starts_with("Recording stopped: cannot write " + path)) << message;

    EdfReader reader;
    ASSERT_EQ(reader.open(path), "");
    EXPECT_TRUE(reader.header().consistent()) << "header and size agree";
    EXPECT_GE(reader.header().recordsOnDisk, 10u);
    EXPECT_FALSE(std::filesystem::exists(recording::journalPath(path)));
    auto read = readWithBiosig(path, dir);
    EXPECT_EQ(read.samples.size(), reader.header().recordsOnDisk * 300);
}

TEST(EdfRecorder, PermissionDeniedIsReportedWithItsReason) {
    TempDir dir;
    std::filesystem::create_directory(dir.path / "locked");
    using std::filesystem::perms;
    const auto readOnly = perms::owner_read | perms::owner_exec | perms::group_read |
                          perms::group_exec | perms::others_read | perms::others_exec;
    std::filesystem::permissions(dir.path / "locked", readOnly);
    // The child may run as nobody: it must reach the folder and its message.
    std::filesystem::permissions(dir.path, readOnly | perms::owner_write);
    const std::string messageFile = dir.file("message");
    std::ofstream(messageFile).close();
    std::filesystem::permissions(
        messageFile, perms::all & ~perms::owner_exec & ~perms::group_exec & ~perms::others_exec);
    int status = inChild([&] {
        std::string text;
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            text = "could not drop root";
        } else {
            EdfRecorder recorder;
            bool started =
                recorder.start(setupFor(dir.file("locked/x.edf")), EdfRecorder::Clock::now());
            text = started ? "started" : recorder.error();
        }
        std::ofstream(messageFile) << text;
    });
    ASSERT_TRUE(WIFEXITED(status));
    std::filesystem::permissions(dir.path / "locked", std::filesystem::perms::owner_all);
    std::string message;
    std::getline(std::ifstream(messageFile), message);
    EXPECT_EQ(message, "Cannot record to " + dir.file("locked/x.edf") + ": Permission denied");
}

// Nothing that is not a regular file is recorded to, nor anything beside it
// (no /dev/null.annotations); a file a replay has open is never written,
// through whatever path; an existing file only when the user confirmed.
TEST(EdfRecorder, OnlyANewOrConfirmedRegularFileThatNoReplayHasOpenIsRecordedTo) {
    TempDir dir;
    const auto now = EdfRecorder::Clock::now();
    auto refusal = [&](const recording::RecordingSetup& setup) {
        EdfRecorder recorder;
        return recorder.start(setup, now) ? std::string("started") : recorder.error();
    };
    auto contentsOf = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    const bool hadNullJournal = std::filesystem::exists("/dev/null.annotations");
    EXPECT_EQ(refusal(setupFor("/dev/null")),
              "Cannot record to /dev/null: /dev/null is a character device, not a regular file; "
              "give the name of a file to record to");
    if (!hadNullJournal && std::filesystem::exists("/dev/null.annotations")) {
        std::filesystem::remove("/dev/null.annotations");
        ADD_FAILURE() << "a journal was made beside /dev/null";
    }
    const std::string fifo = dir.file("pipe.edf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(refusal(setupFor(fifo)), "Cannot record to " + fifo + ": " + fifo +
                                           " is a FIFO (named pipe), not a regular file; give "
                                           "the name of a file to record to");
    EXPECT_FALSE(std::filesystem::exists(recording::journalPath(fifo)));
    std::filesystem::create_directory(dir.path / "folder.edf");
    EXPECT_EQ(refusal(setupFor(dir.file("folder.edf"))),
              "Cannot record to " + dir.file("folder.edf") + ": " + dir.file("folder.edf") +
                  " is a directory, not a regular file; give the name of a file to record to");

    // An existing file: kept unless overwriting was confirmed.
    const std::string existing = dir.file("existing.edf");
    std::ofstream(existing) << "an earlier recording";
    EXPECT_EQ(refusal(setupFor(existing)),
              "Cannot record to " + existing +
                  ": the file already exists. Give a new file name, or remove the file first to "
                  "record over it");
    EXPECT_EQ(contentsOf(existing), "an earlier recording");
    auto confirmed = setupFor(existing);
    confirmed.overwrite = true;
    EXPECT_EQ(refusal(confirmed), "started");

    // The file being replayed, named through a link: refused even when confirmed.
    const std::string replayed = dir.file("replayed.edf");
    std::ofstream(replayed) << "being replayed";
    std::filesystem::create_symlink(replayed, dir.file("link.edf"));
    auto overReplay = setupFor(dir.file("link.edf"));
    overReplay.overwrite = true;
    overReplay.filesInUse = [&] { return std::vector<std::string>{replayed}; };
    EXPECT_EQ(refusal(overReplay), "Cannot record to " + dir.file("link.edf") +
                                       ": it is the file being replayed (" + replayed +
                                       "); recording over it would destroy it. Give another "
                                       "file name");
    EXPECT_EQ(contentsOf(replayed), "being replayed");

    // A continuation file that is being replayed stops the recording instead.
    const std::string next = recording::chainedFileName(dir.file("c.edf"), 2);
    std::ofstream(next) << "being replayed";
    auto chained = setupFor(dir.file("c.edf"), 100);
    chained.filesInUse = [&] { return std::vector<std::string>{next}; };
    EdfRecorder recorder;
    std::string told;
    recorder.onError = [&](const std::string& text) { told = text; };
    ASSERT_TRUE(recorder.start(chained, now));
    for (int i = 0; i < 150; ++i) {
        recorder.onSample(static_cast<std::uint8_t>(i));
    }
    recorder.setSampleRate(50);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_NE(told.find("it is the file being replayed"), std::string::npos) << told;
    EXPECT_EQ(contentsOf(next), "being replayed");
    EdfReader first;
    ASSERT_EQ(first.open(dir.file("c.edf")), "");
    EXPECT_TRUE(first.header().consistent());
}

}  // namespace
}  // namespace vitalon::testing
