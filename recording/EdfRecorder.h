#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "StreamListener.h"
#include "SyncedFile.h"

namespace vitalon::recording {

// What the one waveform signal of a recording shows; it gives the signal its
// label ("ECG I", "ECG II", "ECG III", "Resp").
enum class Waveform { EcgI, EcgII, EcgIII, Respiration };
std::string_view waveformLabel(Waveform waveform);

struct RecordingSetup {
    std::string path;  // the first file; a rate change continues in NAME-2.edf, NAME-3.edf, ...
    int samplesPerSecond = 100;
    Waveform waveform = Waveform::EcgII;
    int amplification = 1;  // step 0, 1 or 2
    int filterHz = 50;      // the mains notch, 50 or 60
    std::string port;       // "COM1"; empty when unknown
    std::string device;     // "/dev/ttyUSB0"; empty when unknown
    std::string version;    // the program's version, for the equipment field
    // The serial number of the module recorded (a module test knows it); it
    // leads the header's recording-additional field. Empty when not known.
    std::string moduleSerialNumber;
    std::chrono::system_clock::time_point startTime;  // wall clock at the start
    // The user confirmed recording over an existing file of this name (the
    // save dialog asks). Otherwise an existing first file is refused.
    bool overwrite = false;
    // Files that must not be written, whatever path names them: those a replay
    // has open. Asked before each file of the recording is opened.
    std::function<std::vector<std::string>()> filesInUse;
};

// Records the decoded stream to EDF+ (continuous) with EDFlib.
//
// One data record per second; one waveform signal at the module's rate,
// digital 0..255, the sample bytes stored exactly. Its physical dimension is
// "counts" with physical = digital: the program does not know the module's
// gain in millivolts, and the amplification may change within a file, so any
// other unit in the header would be a guess that turns false. Amplification,
// lead and calibration pulses are annotations instead.
//
// Time in the file is the module's clock, the number of samples at the
// declared rate. Every annotation takes the onset of the sample received
// before it (0 before the first). "Recording ends" and "Next file NAME" take
// the end of the data. A silence of 2 s or more leaves no samples and the
// annotation "No data for N s" at the last sample before it.
//
// The host's time is a parameter (advanceTime): it dates the samples for the
// silences and paces the flushes. Every complete second is handed to the
// kernel and synced to the disk at the first advanceTime a second or more
// after the previous flush, so calls at least once a second keep it within
// 2 s. A stopped recording writes its last partial second padded with the
// last sample after "Recording ends", and a few more padding seconds when a
// burst of annotations at the end needs their room.
//
// A write that fails (disk full, drive gone) stops the recording: the file is
// closed, cut back to its complete records and its header made to match, and
// error() says what happened; the stream itself goes on untouched.
class EdfRecorder : public StreamListener {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kAnnotationSignals =
        6;  // EDFlib holds one annotation per signal and record
    static constexpr auto kFlushInterval = std::chrono::seconds(1);
    static constexpr int kBurstRecords = 4;
    // Longer than the host's clock steps, so that a host that calls
    // advanceTime only once a second sees no silences that were not there.
    static constexpr auto kSilence = std::chrono::seconds(2);

    EdfRecorder() = default;
    EdfRecorder(const EdfRecorder&) = delete;
    EdfRecorder& operator=(const EdfRecorder&) = delete;
    ~EdfRecorder() override;

    // Opens the first file. False, with error() set, if it cannot be written,
    // is not a regular file, is in use by a replay, or exists and overwriting
    // it was not confirmed.
    bool start(const RecordingSetup& setup, Clock::time_point now);
    // Writes what is left and closes the file; nothing when not recording.
    void stop();
    bool isRecording() const { return handle_ >= 0; }

    // Why the recording stopped by itself or could not start; empty otherwise.
    const std::string& error() const { return error_; }
    // Told once when a write error stops the recording, with error().
    std::function<void(const std::string&)> onError;

    // Every file of this recording so far, the current one last.
    const std::vector<std::string>& files() const { return files_; }
    // Seconds of module time recorded, over all files.
    double recordedSeconds() const;

    // The host's clock: flushes what is due and dates arriving samples.
    void advanceTime(Clock::time_point now);
    // The module's new rate (after "S0", "S1", "S2"): a different rate closes
    // this file and continues in the next.
    void setSampleRate(int samplesPerSecond);
    // The label of later files; the change itself is the host's annotation.
    void setWaveform(Waveform waveform) { setup_.waveform = waveform; }
    // Any event the host knows of: commands with their meaning ("S2: 50/sec"),
    // the watchdog going stale or live, the link lost and reopened, freeze.
    void annotate(std::string_view text);

    void onSample(std::uint8_t sample) override;
    void onPulse(std::uint8_t rate) override;
    void onRespiration(std::uint8_t rate) override;
    void onStatus(std::uint8_t code) override;

private:
    bool openFile(const std::string& path, double moduleSecondsBefore);
    std::string refusal(const std::string& path) const;
    void finishFile(std::string_view endText);
    void writeRecord();
    void addAnnotation(long long onsetUnits, std::string_view text, bool essential);
    long long onsetOfLastSample() const;
    long long endOnset() const;
    void flush();
    void fail(const std::string& reason);
    std::string nextFilePath() const;

    RecordingSetup setup_;
    std::string error_;
    std::vector<std::string> files_;
    double secondsBefore_ = 0;  // module time in the earlier files

    // The current file.
    int handle_ = -1;
    SyncedFile data_;     // the EDF file, for syncing and size checks
    SyncedFile journal_;  // its annotations, in case the program is killed
    std::string journalPending_;
    int rate_ = 0;
    std::vector<short> record_;
    std::uint64_t samples_ = 0;  // samples in this file
    std::uint64_t records_ = 0;
    std::uint64_t flushedRecords_ = 0;
    std::uint64_t annotations_ = 0;
    std::uint64_t leftOut_ = 0;
    std::uint64_t headerBytes_ = 0;
    std::uint64_t recordBytes_ = 0;
    short lastSample_ = 128;  // the baseline, for padding before any sample

    Clock::time_point now_{};
    Clock::time_point lastSampleTime_{};
    Clock::time_point lastFlush_{};
    bool leadOff_ = false;
};

// NAME.edf -> NAME-2.edf for `index` 2, and so on.
std::string chainedFileName(const std::string& firstPath, int index);

}  // namespace vitalon::recording
