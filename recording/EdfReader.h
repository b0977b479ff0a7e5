#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <vector>

// A reader of EDF and EDF+ files that trusts nothing in them. Every header
// field is checked before it is used; counts and sizes that the file cannot
// back (more records than bytes, a header length that does not match its
// signals) are cut to what is on disk or refused with a message that names
// the field. Memory stays within one data record, never more than the file's
// size, and every loop is bounded by the bytes it reads.
namespace vitalon::recording {

// Where the bytes come from: a file, or memory for tests and fuzzing.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills `out` from `offset`; false if the bytes are not all there.
    virtual bool read(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

class MemoryBytes : public ByteSource {
public:
    explicit MemoryBytes(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    std::span<const std::uint8_t> bytes_;
};

class FileBytes : public ByteSource {
public:
    // Empty on success, otherwise why the file could not be opened.
    std::string open(const std::string& path);
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    std::ifstream stream_;
    std::uint64_t size_ = 0;
};

struct EdfSignal {
    std::string label;
    std::string transducer;
    std::string dimension;
    std::string prefilter;
    double physicalMinimum = 0;
    double physicalMaximum = 0;
    int digitalMinimum = 0;
    int digitalMaximum = 0;
    std::uint32_t samplesPerRecord = 0;
    bool annotations = false;          // an "EDF Annotations" signal
    std::uint64_t offsetInRecord = 0;  // bytes from the record's start

    double samplesPerSecond(double recordSeconds) const {
        return recordSeconds > 0 ? samplesPerRecord / recordSeconds : 0.0;
    }
};

struct EdfHeader {
    std::string patient;
    std::string recording;
    std::string startDate;  // dd.mm.yy
    std::string startTime;  // hh.mm.ss
    bool edfPlus = false;
    bool discontinuous = false;
    long long declaredRecords = -1;  // -1: the writer never finished the file
    double recordSeconds = 0;
    std::vector<EdfSignal> signalList;  // every signal in header order, annotations too
    std::uint64_t headerBytes = 0;
    std::uint64_t recordBytes = 0;
    std::uint64_t fileBytes = 0;
    std::uint64_t recordsOnDisk = 0;  // complete records the file holds
    std::uint64_t usableRecords = 0;  // what the reader serves: declared, cut to what is on disk

    // The header's record count and the file's size agree.
    bool consistent() const {
        return declaredRecords >= 0 && std::uint64_t(declaredRecords) == recordsOnDisk &&
               fileBytes == headerBytes + recordsOnDisk * recordBytes;
    }
};

struct EdfAnnotation {
    double onset = 0;      // seconds from the start time, as written
    double duration = -1;  // -1: none given
    std::string text;
    bool operator==(const EdfAnnotation&) const = default;
};

struct EdfRecord {
    std::vector<std::vector<std::int16_t>> samples;  // per ordinary signal, digital values
    std::vector<EdfAnnotation> annotations;          // timekeeping entries left out
    double start = 0;  // the record's timekeeping onset; index x duration without one
    bool hasTimekeeping = false;
    std::uint64_t unreadableBytes = 0;  // annotation bytes that were not a valid entry
};

class EdfReader {
public:
    // Reads and checks the header. Empty on success, otherwise a message for
    // the user naming what is wrong.
    std::string open(std::unique_ptr<ByteSource> source);
    std::string open(const std::string& path);

    const EdfHeader& header() const { return header_; }
    // Indices into header().signalList of the ordinary (non-annotation) signals.
    const std::vector<std::size_t>& ordinarySignals() const { return ordinary_; }

    // Reads record `index` < header().usableRecords. False if the bytes could
    // not be read.
    bool readRecord(std::uint64_t index, EdfRecord& out);
    // The same for the annotations alone, reading only their bytes.
    bool readAnnotations(std::uint64_t index, EdfRecord& out);

    // Parses the annotation bytes of one record (Time-stamped Annotation Lists).
    static void parseAnnotations(std::span<const std::uint8_t> bytes, EdfRecord& out);

private:
    std::string parseHeader();
    bool read(std::uint64_t index, EdfRecord& out, bool samples);

    std::unique_ptr<ByteSource> source_;
    EdfHeader header_;
    std::vector<std::size_t> ordinary_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace vitalon::recording
