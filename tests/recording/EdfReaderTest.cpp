#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "EdfReader.h"
#include "RecordingTestSupport.h"
#include "ReplaySource.h"

namespace vitalon::testing {
namespace {

using namespace recording;

// A small real recording, its bytes.
std::vector<std::uint8_t> recordingBytes() {
    TempDir dir;
    EdfRecorder recorder;
    auto now = EdfRecorder::Clock::time_point{} + std::chrono::hours(1);
    EXPECT_TRUE(recorder.start(setupFor(dir.file("small.edf"), 50), now));
    for (int i = 0; i < 130; ++i)
        recorder.onSample(static_cast<std::uint8_t>(i));
    recorder.onPulse(72);
    recorder.stop();
    std::ifstream in(dir.file("small.edf"), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void setField(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t width,
              std::string text) {
    text.resize(width, ' ');
    std::memcpy(bytes.data() + at, text.data(), width);
}

std::string openBytes(const std::vector<std::uint8_t>& bytes, EdfReader& reader) {
    return reader.open(std::make_unique<MemoryBytes>(bytes));
}

TEST(EdfReader, CutAnywhereTheFileGivesAClearErrorOrItsCompleteRecords) {
    const auto whole = recordingBytes();
    EdfReader reader;
    ASSERT_EQ(openBytes(whole, reader), "");
    const EdfHeader full = reader.header();
    ASSERT_EQ(full.usableRecords, 3u);
    for (std::size_t size = 0; size < whole.size(); size += 7) {
        std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(size));
        EdfReader r;
        auto problem = openBytes(cut, r);
        if (size < full.headerBytes) {
            EXPECT_FALSE(problem.empty()) << size;
            continue;
        }
        ASSERT_EQ(problem, "") << size;
        EXPECT_EQ(r.header().usableRecords, (size - full.headerBytes) / full.recordBytes);
        EXPECT_FALSE(r.header().consistent());
        EdfRecord record;
        for (std::uint64_t i = 0; i < r.header().usableRecords; ++i) {
            EXPECT_TRUE(r.readRecord(i, record));
        }
        EXPECT_FALSE(r.readRecord(r.header().usableRecords, record));
    }
    EXPECT_EQ(openBytes({}, reader),
              "Not an EDF file: 0 bytes are too few for its 256-byte header");
}

TEST(EdfReader, HeaderFieldsThatLieAreRefusedOrCutToWhatTheFileHolds) {
    const auto whole = recordingBytes();
    EdfReader reader;
    struct Case {
        std::size_t at, width;
        std::string value, problem;
    };
    const std::vector<Case> refused = {
        {0, 8, "1", "Not an EDF file: the version field is not 0"},
        {184, 8, "99999999",
         "The EDF header's length field (99999999) does not match its 7 signals, which need "
         "2048 bytes"},
        {252, 4, "0", "The EDF header's number of signals is not a number from 1 to 9999"},
        {252, 4, "900",
         "The EDF header's length field (2048) does not match its 900 signals, "
         "which need 230656 bytes"},
        {252, 4, "x", "The EDF header's number of signals is not a number from 1 to 9999"},
        {236, 8, "-7", "The EDF header's number of data records (-7) is not a number"},
        {244, 8, "-1", "The EDF header's record duration (-1) is not a number of seconds"},
        {244, 8, "0", "The EDF header's record duration is 0, so its signals have no sample rate"},
        {244, 8, "1e-300",
         "The EDF header's record duration (1e-300 s) gives signal 1 (ECG II) 5e+301 samples a "
         "second, more than the 1e+09 this program reads"},
        {256 + 7 * 216, 8, "0",
         "Signal 1 (ECG II): the number of samples per record (0) is not a number from 1 up"},
        {256 + 7 * 120, 8, "300",
         "Signal 1 (ECG II): the digital range (300 to 255) is not a "
         "range of 16-bit values"},
        {256 + 7 * 104, 8, "255",
         "Signal 1 (ECG II): the physical range (255 to 255) is not a "
         "range of numbers"},
    };
    for (const auto& c : refused) {
        auto bytes = whole;
        setField(bytes, c.at, c.width, c.value);
        EXPECT_EQ(openBytes(bytes, reader), c.problem) << c.value;
    }
    auto bdf = whole;
    bdf[0] = 0xFF;
    EXPECT_EQ(openBytes(bdf, reader),
              "BDF files (24-bit samples) are not supported, only EDF and EDF+");

    // More records than bytes: the ones on disk are served.
    auto more = whole;
    setField(more, 236, 8, "99999999");
    ASSERT_EQ(openBytes(more, reader), "");
    EXPECT_EQ(reader.header().usableRecords, 3u);
    // Samples per record beyond the file: no complete record, nothing allocated for it.
    auto huge = whole;
    setField(huge, 256 + 7 * 216, 8, "99999999");
    ASSERT_EQ(openBytes(huge, reader), "");
    EXPECT_EQ(reader.header().usableRecords, 0u);
    ReplaySource replay;
    EXPECT_EQ(replay.open(std::make_unique<MemoryBytes>(huge), "huge.edf"),
              "huge.edf holds no complete data record");
}

TEST(EdfReader, AnnotationBytesItCannotReadAreSkippedAndTheRestKept) {
    const std::string bytes = std::string("+0\x14\x14\0", 5) + "+1.5\x14Pulse 72\x14" +
                              std::string(1, '\0') + "\x01\x02garbage" + std::string(1, '\0') +
                              "+x\x14nope\x14" + std::string(1, '\0') + "+2\x15" + "0.5\x14" +
                              "Arousal\x14Second\x14" + std::string(1, '\0') + "+3\x14unclosed";
    EdfRecord record;
    EdfReader::parseAnnotations(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), record);
    EXPECT_TRUE(record.hasTimekeeping);
    EXPECT_EQ(record.start, 0);
    EXPECT_EQ(record.annotations,
              (std::vector<EdfAnnotation>{
                  {1.5, -1, "Pulse 72"}, {2, 0.5, "Arousal"}, {2, 0.5, "Second"}}));
    EXPECT_GT(record.unreadableBytes, 20u);
}

TEST(EdfReader, GigabyteFileOpensAtOnceAndReplaysItsStart) {
    TempDir dir;
    auto bytes = recordingBytes();
    // The annotation signals made ordinary: a plain EDF whose records are all zero.
    setField(bytes, 192, 44, "");
    setField(bytes, 236, 8, "99999999");
    const std::string path = dir.file("big.edf");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), 2048);
    }
    std::filesystem::resize_file(path, 3ULL << 30);  // sparse: 3 GB of zero records
    EdfReader reader;
    ASSERT_EQ(reader.open(path), "");
    EXPECT_GT(reader.header().usableRecords, 3'000'000u);
    ReplaySource replay;
    ASSERT_EQ(replay.open(path), "");
    std::vector<std::uint8_t> out;
    replay.advance(std::chrono::seconds(2), out);
    EXPECT_EQ(out.size(), 101u);
    EXPECT_FALSE(replay.finished());
}

}  // namespace
}  // namespace vitalon::testing
