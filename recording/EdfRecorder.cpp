#include "EdfRecorder.h"

#include <edflib.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "Annotations.h"
#include "EdfRepair.h"
#include "FileKind.h"
#include "Protocol.h"

namespace vitalon::recording {

namespace {

constexpr long long kUnitsPerSecond = 10000;     // EDFlib's annotation onsets: 100 us
constexpr std::uint64_t kAnnotationBytes = 114;  // EDFlib's space per annotation signal and record

std::string orX(const std::string& text) {
    return text.empty() ? "X" : text;
}

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

std::string_view waveformLabel(Waveform waveform) {
    switch (waveform) {
        case Waveform::EcgI:
            return "ECG I";
        case Waveform::EcgII:
            return "ECG II";
        case Waveform::EcgIII:
            return "ECG III";
        case Waveform::Respiration:
            return "Resp";
    }
    return "ECG";
}

std::string chainedFileName(const std::string& firstPath, int index) {
    std::filesystem::path path(firstPath);
    std::string extension = path.has_extension() ? path.extension().string() : ".edf";
    path.replace_filename(path.stem().string() + "-" + std::to_string(index) + extension);
    return path.string();
}

EdfRecorder::~EdfRecorder() {
    stop();
}

bool EdfRecorder::start(const RecordingSetup& setup, Clock::time_point now) {
    stop();
    setup_ = setup;
    error_.clear();
    files_.clear();
    secondsBefore_ = 0;
    leadOff_ = false;
    now_ = lastSampleTime_ = lastFlush_ = now;
    return openFile(setup.path, 0);
}

bool EdfRecorder::openFile(const std::string& path, double moduleSecondsBefore) {
    rate_ = setup_.samplesPerSecond;
    if (rate_ < 1 || rate_ > 30000) {
        error_ = "Cannot record at " + std::to_string(rate_) + " samples a second";
        return false;
    }
    if (auto problem = refusal(path); !problem.empty()) {
        error_ = "Cannot record to " + path + ": " + problem;
        return false;
    }
    // Open it ourselves first: EDFlib reports every failed open as "no such
    // file", and the user needs the real reason (permission, read-only disk).
    if (auto problem = data_.open(path); !problem.empty()) {
        error_ = "Cannot record to " + path + ": " + problem;
        return false;
    }
    errno = 0;
    int handle = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, 1);
    if (handle < 0) {
        data_.close();
        error_ = "Cannot record to " + path + ": " +
                 (errno ? errorText(errno) : "EDFlib error " + std::to_string(handle));
        return false;
    }
    edf_set_samplefrequency(handle, 0, rate_);
    edf_set_digital_minimum(handle, 0, 0);
    edf_set_digital_maximum(handle, 0, 255);
    edf_set_physical_minimum(handle, 0, 0);
    edf_set_physical_maximum(handle, 0, 255);
    edf_set_physical_dimension(handle, 0, "counts");
    edf_set_label(handle, 0, std::string(waveformLabel(setup_.waveform)).c_str());
    edf_set_prefilter(handle, 0, ("N:" + std::to_string(setup_.filterHz) + "Hz").c_str());
    edf_set_number_of_annotation_signals(handle, kAnnotationSignals);
    edf_set_equipment(handle, ("Vitalon " + orX(setup_.version)).c_str());
    edf_set_admincode(handle, "X");
    edf_set_technician(handle, "X");
    std::string where = setup_.port.empty() && setup_.device.empty()
                            ? std::string("X")
                            : orX(setup_.port) + " " + orX(setup_.device);
    // First, so that a long device path cut at the field's end leaves it whole.
    if (!setup_.moduleSerialNumber.empty()) {
        where = "module " + setup_.moduleSerialNumber + " " + where;
    }
    edf_set_recording_additional(handle, where.c_str());

    // Whole seconds: some readers (BioSig) place annotations without the
    // sub-second start, so a file that starts on a whole second reads the same
    // everywhere. A continuation file starts at the second its data begins in.
    using namespace std::chrono;
    auto start = floor<seconds>(setup_.startTime + duration_cast<system_clock::duration>(
                                                       duration<double>(moduleSecondsBefore)));
    std::tm calendar = localCalendarTime(system_clock::to_time_t(start));
    edf_set_startdatetime(handle, calendar.tm_year + 1900, calendar.tm_mon + 1, calendar.tm_mday,
                          calendar.tm_hour, calendar.tm_min, calendar.tm_sec);

    std::error_code ec;
    std::filesystem::remove(journalPath(path),
                            ec);  // one left by an earlier recording of this name
    if (auto problem = journal_.open(journalPath(path), true); !problem.empty()) {
        edfclose_file(handle);
        data_.close();
        error_ = "Cannot record to " + path + ": " + problem;
        return false;
    }
    handle_ = handle;
    files_.push_back(path);
    record_.clear();
    record_.reserve(std::size_t(rate_));
    samples_ = records_ = flushedRecords_ = annotations_ = leftOut_ = 0;
    headerBytes_ = 256ULL * (2 + kAnnotationSignals);
    recordBytes_ = 2ULL * std::uint64_t(rate_) + kAnnotationBytes * kAnnotationSignals;
    if (files_.size() > 1) {
        addAnnotation(0, kPreviousFilePrefix.data() + fileName(files_[files_.size() - 2]), false);
    }
    addAnnotation(0, "Amp " + std::to_string(setup_.amplification), false);
    return true;
}

std::string EdfRecorder::refusal(const std::string& path) const {
    // Checked before anything is created: a journal is only ever made beside a
    // regular file, never as /dev/null.annotations.
    if (auto problem = notRegularFileProblem(path, true); !problem.empty()) {
        return problem + "; give the name of a file to record to";
    }
    if (setup_.filesInUse) {
        for (const std::string& used : setup_.filesInUse()) {
            if (sameFile(path, used)) {
                return "it is the file being replayed (" + used +
                       "); recording over it would destroy it. Give another file name";
            }
        }
    }
    std::error_code ec;
    if (files_.empty() && !setup_.overwrite && std::filesystem::exists(path, ec)) {
        return "the file already exists. Give a new file name, or remove the file first to "
               "record over it";
    }
    return {};
}

long long EdfRecorder::onsetOfLastSample() const {
    const std::uint64_t k = samples_ ? samples_ - 1 : 0;
    return static_cast<long long>((k * 2 * kUnitsPerSecond + std::uint64_t(rate_)) /
                                  (2 * std::uint64_t(rate_)));
}

long long EdfRecorder::endOnset() const {
    return static_cast<long long>((samples_ * 2 * kUnitsPerSecond + std::uint64_t(rate_)) /
                                  (2 * std::uint64_t(rate_)));
}

void EdfRecorder::addAnnotation(long long onsetUnits, std::string_view text, bool essential) {
    if (!isRecording()) {
        return;
    }
    // EDFlib writes at close at most one annotation per annotation signal and
    // record and silently drops the rest. Keep within what the records written
    // so far and the one in progress can hold, plus a few padding records'
    // worth for bursts (the start commands, a lead coming off), with room for
    // the summary of what was left out and for the closing annotation.
    const std::uint64_t capacity = (records_ + 1 + kBurstRecords) * kAnnotationSignals;
    if (!essential) {
        if (annotations_ + 2 >= capacity) {
            ++leftOut_;
            return;
        }
        if (leftOut_ > 0) {
            std::uint64_t count = leftOut_;
            leftOut_ = 0;
            addAnnotation(onsetUnits, leftOutText(count), true);
        }
    }
    std::string fitted = fitAnnotation(text);
    if (edfwrite_annotation_utf8(handle_, onsetUnits, -1, fitted.c_str()) != 0) {
        fail("the annotation could not be stored");
        return;
    }
    ++annotations_;
    journalPending_ += std::to_string(onsetUnits) + "\t" + fitted + "\n";
}

void EdfRecorder::annotate(std::string_view text) {
    addAnnotation(onsetOfLastSample(), text, false);
}

void EdfRecorder::onSample(std::uint8_t sample) {
    if (!isRecording()) {
        return;
    }
    if (now_ - lastSampleTime_ >= kSilence) {
        auto seconds = std::chrono::duration<double>(now_ - lastSampleTime_).count();
        addAnnotation(onsetOfLastSample(), silenceText(std::llround(seconds)), false);
    }
    lastSampleTime_ = now_;
    lastSample_ = sample;
    record_.push_back(sample);
    ++samples_;
    if (record_.size() == std::size_t(rate_)) {
        writeRecord();
    }
}

void EdfRecorder::writeRecord() {
    record_.resize(std::size_t(rate_), lastSample_);
    if (edfwrite_digital_short_samples(handle_, record_.data()) != 0) {
        fail("a data record could not be written");
        return;
    }
    record_.clear();
    ++records_;
}

void EdfRecorder::onPulse(std::uint8_t rate) {
    addAnnotation(onsetOfLastSample(), reportText({ReportKind::Pulse, rate}), false);
}

void EdfRecorder::onRespiration(std::uint8_t rate) {
    addAnnotation(onsetOfLastSample(), reportText({ReportKind::Respiration, rate}), false);
}

void EdfRecorder::onStatus(std::uint8_t code) {
    const long long onset = onsetOfLastSample();
    addAnnotation(onset, reportText({ReportKind::Status, code}), false);
    const bool leadOff = code == protocol::kStatusLeadOff;
    if (leadOff != leadOff_) {
        addAnnotation(onset, leadOff ? kLeadOffText : kLeadBackText, false);
        leadOff_ = leadOff;
    }
}

void EdfRecorder::advanceTime(Clock::time_point now) {
    now_ = now;
    if (isRecording() && now - lastFlush_ >= kFlushInterval) {
        flush();
    }
}

void EdfRecorder::flush() {
    lastFlush_ = now_;
    if (records_ == flushedRecords_ && journalPending_.empty()) {
        return;
    }
    // EDFlib's stream is not ours to reach; flushing every output stream pushes
    // its complete records to the kernel.
    errno = 0;
    const bool flushed = std::fflush(nullptr) == 0;
    const int flushError = errno;
    if (auto problem = journal_.append(journalPending_); !problem.empty()) {
        fail(problem);
        return;
    }
    journalPending_.clear();
    if (records_ > 0) {
        const std::uint64_t expected = headerBytes_ + records_ * recordBytes_;
        auto size = data_.size();
        if (!size || *size < expected) {
            fail(!flushed && flushError ? errorText(flushError) : data_.shortfallReason(expected));
            return;
        }
    }
    for (SyncedFile* file : {&data_, &journal_}) {
        if (auto problem = file->sync(); !problem.empty()) {
            fail(problem);
            return;
        }
    }
    flushedRecords_ = records_;
}

std::string EdfRecorder::nextFilePath() const {
    return chainedFileName(setup_.path, int(files_.size()) + 1);
}

void EdfRecorder::setSampleRate(int samplesPerSecond) {
    if (!isRecording()) {
        setup_.samplesPerSecond = samplesPerSecond;
        return;
    }
    if (samplesPerSecond == rate_) {
        return;
    }
    const std::string next = nextFilePath();
    const double seconds = secondsBefore_ + double(samples_) / rate_;
    finishFile(nextFileText(fileName(next)));
    if (!error_.empty()) {
        return;
    }
    secondsBefore_ = seconds;
    setup_.samplesPerSecond = samplesPerSecond;
    if (!openFile(next, seconds) && onError) {
        onError(error_);
    }
}

void EdfRecorder::stop() {
    if (isRecording()) {
        finishFile(kRecordingEndsText);
    }
}

void EdfRecorder::finishFile(std::string_view endText) {
    if (leftOut_ > 0) {
        addAnnotation(onsetOfLastSample(), leftOutText(leftOut_), true);
        leftOut_ = 0;
    }
    addAnnotation(endOnset(), endText, true);
    // The partial last second, padded; and as many padding records as the
    // annotations need (at most kBurstRecords + 1, given the limit in addAnnotation).
    if (!record_.empty() && isRecording()) {
        writeRecord();
    }
    while (isRecording() && records_ * kAnnotationSignals < annotations_) {
        writeRecord();
    }
    if (!isRecording()) {
        return;
    }
    flush();
    if (!isRecording()) {
        return;
    }
    const std::string path = files_.back();
    const int result = edfclose_file(handle_);
    handle_ = -1;
    data_.close();
    journal_.close();
    if (result != 0) {
        error_ = "Recording stopped: " + path + " could not be closed properly";
        repairRecording(path);
        if (onError) {
            onError(error_);
        }
        return;
    }
    std::error_code ec;
    std::filesystem::remove(journalPath(path), ec);
}

void EdfRecorder::fail(const std::string& reason) {
    if (!isRecording()) {
        return;
    }
    const std::string path = files_.back();
    edfclose_file(handle_);
    handle_ = -1;
    data_.close();
    journal_.close();
    journalPending_.clear();
    auto repaired = repairRecording(path);
    error_ =
        "Recording stopped: cannot write " + path + " (" + reason + "). " +
        (repaired.outcome == RepairResult::Outcome::Failed
             ? repaired.message
             : "It keeps the first " + std::to_string(repaired.records) + " s." +
                   (repaired.outcome == RepairResult::Outcome::Incomplete ? " " + repaired.message
                                                                          : std::string()));
    if (onError) {
        onError(error_);
    }
}

double EdfRecorder::recordedSeconds() const {
    return secondsBefore_ + (rate_ > 0 ? double(samples_) / rate_ : 0.0);
}

}  // namespace vitalon::recording
