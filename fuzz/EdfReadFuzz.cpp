// libFuzzer target for the reading path of recordings: the header checks, the
// record and annotation parsing, and replay as the module's byte stream. It
// aborts when the reader serves bytes the file does not have or when replay
// sends something the module never would.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "EdfReader.h"
#include "ReplaySource.h"
#include "ReplayedSamples.h"

namespace {

using namespace vitalon::recording;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void readEveryRecord(std::span<const std::uint8_t> bytes) {
    EdfReader reader;
    if (!reader.open(std::make_unique<MemoryBytes>(bytes)).empty()) {
        return;
    }
    const EdfHeader& h = reader.header();
    check(h.usableRecords <= h.recordsOnDisk);
    check(h.headerBytes + h.recordsOnDisk * h.recordBytes <= bytes.size());
    EdfRecord record;
    for (std::uint64_t r = 0; r < h.usableRecords; ++r) {
        check(reader.readRecord(r, record));
        check(record.samples.size() == reader.ordinarySignals().size());
        for (std::size_t i = 0; i < record.samples.size(); ++i) {
            check(record.samples[i].size() ==
                  h.signalList[reader.ordinarySignals()[i]].samplesPerRecord);
        }
        std::uint64_t textBytes = 0;
        for (const auto& a : record.annotations) {
            textBytes += a.text.size() + 1;
        }
        check(textBytes <= h.recordBytes);
    }
    check(!reader.readRecord(h.usableRecords, record));
}

void replay(std::span<const std::uint8_t> bytes) {
    ReplaySource source;
    if (!source.open(std::make_unique<MemoryBytes>(bytes), "fuzz.edf").empty()) {
        check(source.finished());
        return;
    }
    // A minute of replay, in steps of a third of a second.
    const std::size_t samples = vitalon::fuzz::replayedSamples(source, 180);
    check(samples <= 300 * 60 + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    readEveryRecord(bytes);
    replay(bytes);
    EdfRecord record;
    EdfReader::parseAnnotations(bytes, record);
    return 0;
}
