#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "EdfReader.h"

namespace vitalon::recording {

// Serves an EDF or EDF+ file as the module's byte stream, paced by the time
// the host passes in.
//
// A Vitalon recording gives back its sample bytes as they were received, and
// its pulse, respiration and status annotations as reports (marker byte and
// value) right after the sample at their onset. "No data for N s" pauses the
// stream that long; "Next file NAME" goes on with the next file of the
// recording, at its own rate, unless it is a file already replayed (the
// replay then ends with an error naming the files); "Recording ends" ends it,
// before the padding of the last second. Any other file is served when it has an ECG signal: the
// first whose label holds "ECG" or "EKG", resampled (linearly) to the nearest
// of the module's rates, 300, 100 or 50 a second, and scaled from its
// physical range into the sample range 0..247.
//
// A recording whose writer was killed (record count -1, or its annotation
// journal still beside it) is repaired first where the file can be written;
// otherwise, and for any other file, what is valid is served.
class ReplaySource {
public:
    static constexpr int kModuleRates[] = {300, 100, 50};

    // Empty on success, otherwise a message naming what is wrong or missing.
    std::string open(const std::string& path);
    // Serves bytes already in memory, named `name` in messages: no repair and
    // no next file.
    std::string open(std::unique_ptr<ByteSource> bytes, const std::string& name);

    // Appends the bytes due by `elapsed` (since the replay began) to `out`.
    void advance(std::chrono::nanoseconds elapsed, std::vector<std::uint8_t>& out);

    bool finished() const { return finished_; }
    int samplesPerSecond() const { return outRate_; }
    const std::string& currentFile() const { return path_; }
    // Every file of the recording opened so far, the current one last.
    const std::vector<std::string>& playedFiles() const { return played_; }
    // Those and the next file the current one names: a recording must not be
    // written over any of them.
    std::vector<std::string> filesInUse() const;
    // A problem met after opening, e.g. a next file that is missing; the
    // replay then ends there.
    const std::string& error() const { return error_; }
    // What the host may tell the user: a repair, a resampling, a cut file.
    const std::vector<std::string>& notes() const { return notes_; }

private:
    struct Event {
        std::uint64_t sample;  // emitted right after this output sample
        std::uint8_t marker;   // 0: a silence of `seconds`
        std::uint8_t value;
        long long seconds;
    };

    std::string openSegment(const std::string& path);
    std::string startSegment(const std::string& name);
    std::string nextCandidate() const;
    bool nextSegment();
    std::optional<std::int16_t> inputSample(std::uint64_t index);
    std::uint8_t outputSample(std::uint64_t index, bool& ok);

    std::string firstPath_;
    std::vector<std::string> played_;
    int fileIndex_ = 1;
    std::string path_;
    std::string nextName_;
    bool nextPartial_ = false;
    std::string error_;
    std::vector<std::string> notes_;
    bool finished_ = false;

    EdfReader reader_;
    std::size_t signal_ = 0;  // index into the reader's ordinary signals
    std::uint32_t samplesPerRecord_ = 0;
    double inRate_ = 0;
    int outRate_ = 0;
    bool native_ = false;
    double scale_ = 1, offset_ = 0;  // digital -> 0..247 for other files
    std::uint64_t inputSamples_ = 0;
    std::uint64_t outputEnd_ = 0;
    std::uint64_t next_ = 0;  // the next output sample
    std::vector<Event> events_;
    std::size_t nextEvent_ = 0;

    EdfRecord records_[2];
    std::uint64_t recordIndex_[2] = {UINT64_MAX, UINT64_MAX};
    int newest_ = 0;

    std::chrono::nanoseconds segmentStart_{0};
    std::chrono::nanoseconds pause_{0};
};

}  // namespace vitalon::recording
