#include "ReplaySource.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "Annotations.h"
#include "EdfRecorder.h"
#include "EdfRepair.h"
#include "FileKind.h"
#include "Protocol.h"

namespace vitalon::recording {

namespace {

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

bool isVitalonLabel(const std::string& label) {
    for (auto waveform :
         {Waveform::EcgI, Waveform::EcgII, Waveform::EcgIII, Waveform::Respiration}) {
        if (label == waveformLabel(waveform)) {
            return true;
        }
    }
    return false;
}

std::uint8_t markerOf(ReportKind kind) {
    switch (kind) {
        case ReportKind::Pulse:
            return protocol::kPulseMarker;
        case ReportKind::Respiration:
            return protocol::kRespirationMarker;
        case ReportKind::Status:
            return protocol::kStatusMarker;
    }
    return protocol::kStatusMarker;
}

// Sample numbers and times from arithmetic on header values, kept in range.
constexpr double kLimit = 4e18;

std::uint64_t sampleIndex(double at) {
    return !(at > 0) ? 0 : std::uint64_t(std::llround(std::min(at, kLimit)));
}

std::chrono::nanoseconds nanosecondsOf(double seconds) {
    return std::chrono::nanoseconds(std::llround(std::clamp(seconds * 1e9, 0.0, kLimit)));
}

// Both parts are at most kLimit, so the sum cannot overflow before the cut.
std::chrono::nanoseconds saturatedSum(std::chrono::nanoseconds a, std::chrono::nanoseconds b) {
    return std::chrono::nanoseconds(std::min<long long>(a.count() + b.count(), (long long)kLimit));
}

}  // namespace

std::string ReplaySource::open(const std::string& path) {
    firstPath_ = path;
    played_ = {path};
    fileIndex_ = 1;
    finished_ = false;
    error_.clear();
    notes_.clear();
    segmentStart_ = pause_ = std::chrono::nanoseconds(0);
    auto problem = openSegment(path);
    if (!problem.empty()) {
        finished_ = true;
    }
    return problem;
}

std::string ReplaySource::open(std::unique_ptr<ByteSource> bytes, const std::string& name) {
    firstPath_.clear();
    played_.clear();
    fileIndex_ = 1;
    finished_ = false;
    error_.clear();
    notes_.clear();
    segmentStart_ = pause_ = std::chrono::nanoseconds(0);
    auto problem = reader_.open(std::move(bytes));
    if (problem.empty()) {
        problem = startSegment(name);
    }
    nextName_.clear();
    if (!problem.empty()) {
        finished_ = true;
    }
    return problem;
}

std::string ReplaySource::openSegment(const std::string& path) {
    EdfReader probe;
    if (auto problem = probe.open(path); !problem.empty()) {
        return problem;
    }
    // A recording whose writer never finished it: EDFlib leaves the record
    // count at -1 until the close, and the annotations in the journal.
    std::error_code ec;
    if (probe.header().declaredRecords < 0 || std::filesystem::exists(journalPath(path), ec)) {
        auto repaired = repairRecording(path);
        notes_.push_back(repaired.outcome == RepairResult::Outcome::Failed
                             ? path + " was not finished and could not be repaired (" +
                                   repaired.message + "); its complete records are replayed"
                             : repaired.message);
    }
    if (auto problem = reader_.open(path); !problem.empty()) {
        return problem;
    }
    return startSegment(path);
}

std::string ReplaySource::startSegment(const std::string& path) {
    path_ = path;
    nextName_.clear();
    events_.clear();
    nextEvent_ = 0;
    next_ = 0;
    recordIndex_[0] = recordIndex_[1] = UINT64_MAX;
    const EdfHeader& h = reader_.header();
    const auto& ordinary = reader_.ordinarySignals();
    if (ordinary.empty()) {
        return path + " has no signal to replay, only annotations";
    }
    std::optional<std::size_t> chosen;
    const bool ours = h.recording.find("Vitalon") != std::string::npos;
    for (std::size_t i = 0; i < ordinary.size() && !chosen; ++i) {
        const EdfSignal& s = h.signalList[ordinary[i]];
        std::string label = upper(s.label);
        if (label.find("ECG") != std::string::npos || label.find("EKG") != std::string::npos ||
            (ours && isVitalonLabel(s.label))) {
            chosen = i;
        }
    }
    if (!chosen) {
        std::string labels;
        for (auto i : ordinary) {
            labels += (labels.empty() ? "" : ", ") + h.signalList[i].label;
        }
        return path +
               " has no ECG signal to replay (no label holds ECG or EKG; its signals: " + labels +
               ")";
    }
    if (h.usableRecords == 0) {
        return path + " holds no complete data record";
    }
    signal_ = *chosen;
    const EdfSignal& s = h.signalList[ordinary[signal_]];
    samplesPerRecord_ = s.samplesPerRecord;
    inRate_ = s.samplesPerSecond(h.recordSeconds);
    outRate_ = kModuleRates[0];
    for (int rate : kModuleRates) {
        if (std::abs(rate - inRate_) < std::abs(outRate_ - inRate_)) {
            outRate_ = rate;
        }
    }
    native_ = ours && isVitalonLabel(s.label) && s.digitalMinimum == 0 && s.digitalMaximum == 255 &&
              inRate_ == outRate_;
    if (!native_) {
        // Physical value, then its place in the physical range, as 0..247.
        const double unitsPerStep =
            (s.physicalMaximum - s.physicalMinimum) / (s.digitalMaximum - s.digitalMinimum);
        const double low = std::min(s.physicalMinimum, s.physicalMaximum);
        const double high = std::max(s.physicalMinimum, s.physicalMaximum);
        scale_ = unitsPerStep / (high - low) * protocol::kMaxSample;
        offset_ = (s.physicalMinimum - s.digitalMinimum * unitsPerStep - low) / (high - low) *
                  protocol::kMaxSample;
        if (inRate_ != outRate_) {
            // "256", "62.5": a rate is shown as a rate, not with six zeros.
            char rate[32];
            std::snprintf(rate, sizeof rate, "%.6g", inRate_);
            notes_.push_back(path + ": " + s.label + " at " + rate +
                             " samples a second is replayed at " + std::to_string(outRate_));
        }
    }
    if (h.declaredRecords >= 0 && std::uint64_t(h.declaredRecords) > h.recordsOnDisk) {
        notes_.push_back(path +
                         " is shorter than its header says: " + std::to_string(h.recordsOnDisk) +
                         " of " + std::to_string(h.declaredRecords) + " records are replayed");
    }
    inputSamples_ = h.usableRecords * samplesPerRecord_;
    outputEnd_ = inRate_ == outRate_
                     ? inputSamples_
                     : sampleIndex(double(inputSamples_ - 1) * outRate_ / inRate_) + 1;

    // The annotations, all read now: a writer may put them in any record.
    EdfRecord record;
    std::optional<double> origin;
    auto toSample = [&](double onset) -> std::uint64_t {
        return sampleIndex((onset - origin.value_or(0.0)) * outRate_);
    };
    std::vector<EdfAnnotation> annotations;
    const bool hasAnnotations = std::any_of(h.signalList.begin(), h.signalList.end(),
                                            [](const EdfSignal& each) { return each.annotations; });
    for (std::uint64_t r = 0; hasAnnotations && r < h.usableRecords; ++r) {
        if (!reader_.readAnnotations(r, record)) {
            return path + " could not be read";
        }
        if (r == 0 && record.hasTimekeeping) {
            origin = record.start;
        }
        annotations.insert(annotations.end(), record.annotations.begin(), record.annotations.end());
    }
    for (const auto& a : annotations) {
        const std::uint64_t at = toSample(a.onset);
        if (auto report = parseReport(a.text)) {
            events_.push_back({at, markerOf(report->kind), report->value, 0});
        } else if (auto silence = parseSilence(a.text)) {
            events_.push_back({at, 0, 0, std::min(*silence, 24LL * 3600)});
        } else if (a.text == kRecordingEndsText && ours) {
            outputEnd_ = std::min(outputEnd_, at);
        } else if (auto next = parseNextFile(a.text); next && ours) {
            outputEnd_ = std::min(outputEnd_, at);
            nextName_ = next->name;
            nextPartial_ = next->partial;
        }
    }
    std::stable_sort(events_.begin(), events_.end(),
                     [](const Event& a, const Event& b) { return a.sample < b.sample; });
    return {};
}

std::optional<std::int16_t> ReplaySource::inputSample(std::uint64_t index) {
    const std::uint64_t record = index / samplesPerRecord_;
    for (int i : {newest_, 1 - newest_}) {
        if (recordIndex_[i] == record) {
            return records_[i].samples[signal_][index % samplesPerRecord_];
        }
    }
    const int slot = 1 - newest_;
    if (!reader_.readRecord(record, records_[slot])) {
        return std::nullopt;
    }
    recordIndex_[slot] = record;
    newest_ = slot;
    return records_[slot].samples[signal_][index % samplesPerRecord_];
}

std::uint8_t ReplaySource::outputSample(std::uint64_t index, bool& ok) {
    double digital = 0;
    if (inRate_ == outRate_) {
        auto value = inputSample(index);
        ok = value.has_value();
        digital = value.value_or(0);
    } else {
        const double at = double(index) * inRate_ / outRate_;
        const auto below = std::min(std::uint64_t(at), inputSamples_ - 1);
        const double fraction = at - double(below);
        auto first = inputSample(below);
        auto second = below + 1 < inputSamples_ ? inputSample(below + 1) : first;
        ok = first && second;
        digital = first.value_or(0) * (1 - fraction) + second.value_or(0) * fraction;
    }
    const double value = native_ ? digital : digital * scale_ + offset_;
    if (!std::isfinite(value)) {
        return 0;
    }
    return static_cast<std::uint8_t>(
        std::clamp(std::lround(value), 0L, long(protocol::kMaxSample)));
}

std::string ReplaySource::nextCandidate() const {
    if (nextName_.empty()) {
        return {};
    }
    const std::string expected = chainedFileName(firstPath_, fileIndex_ + 1);
    if (nextPartial_) {
        return expected.ends_with(nextName_) ? expected : std::string();
    }
    if (nextName_.find('/') == std::string::npos && nextName_ != ".." && nextName_ != ".") {
        return (std::filesystem::path(path_).parent_path() / nextName_).string();
    }
    return {};
}

std::vector<std::string> ReplaySource::filesInUse() const {
    std::vector<std::string> files = played_;
    if (!finished_) {
        if (std::string next = nextCandidate(); !next.empty()) {
            files.push_back(std::move(next));
        }
    }
    return files;
}

bool ReplaySource::nextSegment() {
    if (nextName_.empty()) {
        return false;
    }
    const std::string candidate = nextCandidate();
    if (candidate.empty()) {
        error_ = path_ + " names a next file that cannot be found (" + nextName_ + ")";
        return false;
    }
    // Each file once: a chain that comes back to a file would replay forever,
    // and one that names itself at its start would do so without serving a
    // single sample. The same file under another name or link counts too.
    if (sameFile(candidate, path_)) {
        error_ = path_ + " names itself as its next file (" + nextName_ +
                 "), a step that goes nowhere; the replay ends here";
        return false;
    }
    for (const std::string& earlier : played_) {
        if (sameFile(candidate, earlier)) {
            std::string chain;
            for (const std::string& each : played_) {
                chain += each + " -> ";
            }
            error_ = path_ + " names " + candidate +
                     " as its next file, which was already replayed (" + chain + candidate +
                     "); the replay ends here";
            return false;
        }
    }
    // Only a file that opened counts as played: one that cannot be read was
    // never served, and naming it would protect or report a file for nothing.
    if (auto problem = openSegment(candidate); !problem.empty()) {
        error_ = path_ + " names " + candidate +
                 " as its next file, which cannot be replayed: " + problem;
        return false;
    }
    ++fileIndex_;
    played_.push_back(candidate);
    return true;
}

void ReplaySource::advance(std::chrono::nanoseconds elapsed, std::vector<std::uint8_t>& out) {
    using namespace std::chrono;
    while (!finished_) {
        if (next_ >= outputEnd_) {
            // Events at or after the end (a report at the last sample's onset).
            while (nextEvent_ < events_.size()) {
                const Event& e = events_[nextEvent_++];
                if (e.marker) {
                    out.push_back(e.marker);
                    out.push_back(e.value);
                }
            }
            segmentStart_ = saturatedSum(
                segmentStart_, saturatedSum(nanosecondsOf(double(outputEnd_) / outRate_), pause_));
            pause_ = nanoseconds(0);
            if (!nextSegment()) {
                finished_ = true;
            }
            continue;
        }
        const auto due = saturatedSum(
            saturatedSum(segmentStart_, nanosecondsOf(double(next_) / outRate_)), pause_);
        if (due > elapsed) {
            return;
        }
        bool ok = true;
        const std::uint8_t sample = outputSample(next_, ok);
        if (!ok) {
            error_ = path_ + " could not be read";
            finished_ = true;
            return;
        }
        out.push_back(sample);
        while (nextEvent_ < events_.size() && events_[nextEvent_].sample <= next_) {
            const Event& e = events_[nextEvent_++];
            if (e.marker) {
                out.push_back(e.marker);
                out.push_back(e.value);
            } else {
                pause_ = saturatedSum(pause_, seconds(e.seconds));
            }
        }
        ++next_;
    }
}

}  // namespace vitalon::recording
