// Repair after a crash: what it says it restored is what the file holds when
// read back, the journal stays until the file holds all of it, annotations at
// one onset keep the journal's order, and only regular files are opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "EdfReader.h"
#include "EdfRepair.h"
#include "RecordingTestSupport.h"

namespace vitalon::testing {
namespace {

using recording::EdfReader;
using recording::EdfRecord;
using recording::EdfRecorder;
using recording::RepairResult;
using namespace std::chrono_literals;

// A recording as its writer left it when killed after `seconds` complete
// seconds at 50 a second: record count -1, and no journal yet (the tests
// write their own).
std::string killedRecording(const TempDir& dir, const std::string& name, int seconds) {
    const std::string path = dir.file(name);
    EdfRecorder recorder;
    auto now = EdfRecorder::Clock::time_point{} + 1h;
    EXPECT_TRUE(recorder.start(setupFor(dir.file("writing-" + name), 50), now));
    for (int i = 0; i < seconds * 50 + 10; ++i) {
        recorder.onSample(static_cast<std::uint8_t>(i % 200));
    }
    recorder.advanceTime(now + 1s);
    std::filesystem::copy_file(dir.file("writing-" + name), path);
    return path;
}

void writeJournal(const std::string& edf, const std::vector<std::string>& lines) {
    std::ofstream out(recording::journalPath(edf), std::ios::binary);
    for (const auto& line : lines) {
        out << line << '\n';
    }
}

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Every annotation of the file as "onset-in-100-us<TAB>text", in record order.
std::vector<std::string> annotationLines(const std::string& path) {
    EdfReader reader;
    EXPECT_EQ(reader.open(path), "");
    std::vector<std::string> lines;
    EdfRecord record;
    for (std::uint64_t r = 0; r < reader.header().usableRecords; ++r) {
        EXPECT_TRUE(reader.readAnnotations(r, record));
        for (const auto& a : record.annotations) {
            lines.push_back(std::to_string(std::llround(a.onset * 10000)) + "\t" + a.text);
        }
    }
    return lines;
}

TEST(Repair, AnnotationsAtOneOnsetComeBackInTheJournalsOrder) {
    TempDir dir;
    const std::string path = killedRecording(dir, "order.edf", 3);
    // The last amplification sent is the one in force: A2 then A0 means A0.
    const std::vector<std::string> journal = {
        "0\tAmp 1",        "5000\tA2: Amplification 2", "5000\tA0: Amplification 0",
        "5000\tStatus 17", "15000\tS2: 50/sec",         "15000\tS0: 300/sec",
        "15000\tPulse 70",
    };
    writeJournal(path, journal);

    const RepairResult result = recording::repairRecording(path);
    ASSERT_EQ(result.outcome, RepairResult::Outcome::Repaired) << result.message;
    EXPECT_EQ(result.restoredAnnotations, journal.size());
    EXPECT_EQ(result.message, path + " repaired: 3 complete seconds, 7 annotations restored");
    EXPECT_EQ(annotationLines(path), journal);
    EXPECT_FALSE(std::filesystem::exists(recording::journalPath(path)));
}

TEST(Repair, AHeaderWithoutRecordsClaimsNothingAndKeepsTheJournal) {
    TempDir dir;
    const std::string path = killedRecording(dir, "header.edf", 2);
    {
        EdfReader reader;
        ASSERT_EQ(reader.open(path), "");
        ASSERT_EQ(reader.header().declaredRecords, -1);
        std::filesystem::resize_file(path, reader.header().headerBytes);
    }
    std::vector<std::string> journal;
    for (int i = 0; i < 17; ++i) {
        journal.push_back(std::to_string(i * 1000) + "\tPulse " + std::to_string(60 + i));
    }
    writeJournal(path, journal);
    const std::string journalBefore = contentsOf(recording::journalPath(path));

    const RepairResult result = recording::repairRecording(path);
    EXPECT_EQ(result.outcome, RepairResult::Outcome::Incomplete) << result.message;
    EXPECT_EQ(result.restoredAnnotations, 0u);
    EXPECT_EQ(result.message.find("restored"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("17 of 17 annotations did not fit"), std::string::npos)
        << result.message;
    EXPECT_NE(result.message.find(recording::journalPath(path)), std::string::npos)
        << result.message;
    EXPECT_EQ(contentsOf(recording::journalPath(path)), journalBefore);
}

TEST(Repair, MoreAnnotationsThanFitAreCountedAsWrittenAndTheJournalStays) {
    TempDir dir;
    const std::string path = killedRecording(dir, "many.edf", 2);
    std::vector<std::string> journal;
    for (int i = 0; i < 200; ++i) {
        journal.push_back(std::to_string(i * 100) + "\tSent A" + std::to_string(i % 3));
    }
    writeJournal(path, journal);

    const RepairResult first = recording::repairRecording(path);
    EXPECT_EQ(first.outcome, RepairResult::Outcome::Incomplete) << first.message;
    const auto written = annotationLines(path);
    ASSERT_GT(written.size(), 0u);
    ASSERT_LT(written.size(), journal.size());
    EXPECT_EQ(first.restoredAnnotations, written.size());
    // What fitted is the journal's beginning, in its order.
    EXPECT_TRUE(std::equal(written.begin(), written.end(), journal.begin()));
    EXPECT_NE(first.message.find(std::to_string(journal.size() - written.size()) + " of 200"),
              std::string::npos)
        << first.message;
    EXPECT_TRUE(std::filesystem::exists(recording::journalPath(path)));

    // Again: nothing new fits, nothing is doubled, and it says so.
    const RepairResult second = recording::repairRecording(path);
    EXPECT_EQ(second.outcome, RepairResult::Outcome::Incomplete) << second.message;
    EXPECT_EQ(second.restoredAnnotations, 0u);
    EXPECT_EQ(annotationLines(path), written);
}

TEST(Repair, DevicesFifosAndDirectoriesAreRefusedBeforeAnyOpen) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.edf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(dir.path / "folder.edf");
    // A recording whose journal is a FIFO: reading it would block as well.
    const std::string killed = killedRecording(dir, "k.edf", 2);
    ASSERT_EQ(mkfifo(recording::journalPath(killed).c_str(), 0600), 0);
    const std::string before = contentsOf(killed);

    const std::string messageFile = dir.file("messages");
    const int status = inChild(
        [&] {
            std::ofstream out(messageFile);
            for (const std::string& path :
                 {fifo, dir.file("folder.edf"), std::string("/dev/null"), killed}) {
                const RepairResult result = recording::repairRecording(path);
                out << (result.outcome == RepairResult::Outcome::Failed ? "failed" : "other")
                    << ": " << result.message << "\n";
            }
        },
        20);
    ASSERT_TRUE(WIFEXITED(status)) << "a repair blocked";
    std::ifstream in(messageFile);
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);) {
        messages.push_back(line);
    }
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "failed: " + fifo +
                                " is a FIFO (named pipe), not a regular file; nothing was repaired",
                            "failed: " + dir.file("folder.edf") +
                                " is a directory, not a regular file; nothing was repaired",
                            "failed: /dev/null is a character device, not a regular file; "
                            "nothing was repaired",
                            "failed: " + recording::journalPath(killed) +
                                " is a FIFO (named pipe), not a regular file, so it cannot be a "
                                "journal of annotations; nothing was repaired",
                        }));
    EXPECT_TRUE(contentsOf(killed) == before) << "the recording was changed";
}

}  // namespace
}  // namespace vitalon::testing
