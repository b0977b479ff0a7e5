#include "EdfReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

#include "FileKind.h"

namespace vitalon::recording {

namespace {

constexpr std::size_t kFixedHeaderBytes = 256;
constexpr std::size_t kSignalHeaderBytes = 256;
constexpr std::size_t kMaxSignals = 9999;  // the field has four digits
constexpr char kDurationSeparator = 0x15;
constexpr char kTextSeparator = 0x14;
constexpr double kMaxSamplesPerSecond = 1e9;

std::string fieldText(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (auto b : bytes) {
        text.push_back(b >= 0x20 && b < 0x7f ? static_cast<char>(b) : '?');
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

std::optional<long long> parseInteger(std::string_view text) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    if (text.front() == '+') {
        text.remove_prefix(1);
    }
    long long value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseNumber(std::string_view text) {
    if (text.empty() || text.size() > 40) {
        return std::nullopt;
    }
    if (text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// An onset or duration of a TAL: sign (onsets only), digits, at most one point.
std::optional<double> parseTalNumber(std::string_view text, bool signRequired) {
    if (signRequired) {
        if (text.empty() || (text.front() != '+' && text.front() != '-')) {
            return std::nullopt;
        }
    }
    std::string_view digits = signRequired ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 30 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '.'; }) ||
        std::count(digits.begin(), digits.end(), '.') > 1 || digits.front() == '.') {
        return std::nullopt;
    }
    auto value = parseNumber(digits);
    if (value && *value > 1e12) {
        return std::nullopt;  // beyond any real recording, and beyond exact arithmetic
    }
    if (value && signRequired && text.front() == '-') {
        *value = -*value;
    }
    return value;
}

}  // namespace

bool MemoryBytes::read(std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset) {
        return false;
    }
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
}

std::string FileBytes::open(const std::string& path) {
    stream_.open(path, std::ios::binary);
    if (!stream_) {
        return "cannot be opened for reading";
    }
    stream_.seekg(0, std::ios::end);
    auto end = stream_.tellg();
    if (end < 0) {
        return "cannot be read (no size)";
    }
    size_ = static_cast<std::uint64_t>(end);
    return {};
}

bool FileBytes::read(std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset > size_ || out.size() > size_ - offset) {
        return false;
    }
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset));
    stream_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return stream_.gcount() == static_cast<std::streamsize>(out.size());
}

std::string EdfReader::open(const std::string& path) {
    // A missing file keeps the open's own message below.
    if (auto problem = notRegularFileProblem(path, true); !problem.empty()) {
        return problem;
    }
    auto file = std::make_unique<FileBytes>();
    if (auto problem = file->open(path); !problem.empty()) {
        return path + " " + problem;
    }
    return open(std::move(file));
}

std::string EdfReader::open(std::unique_ptr<ByteSource> source) {
    source_ = std::move(source);
    header_ = {};
    ordinary_.clear();
    auto problem = parseHeader();
    if (!problem.empty()) {
        source_.reset();
    }
    return problem;
}

std::string EdfReader::parseHeader() {
    EdfHeader& h = header_;
    h.fileBytes = source_->size();
    if (h.fileBytes < kFixedHeaderBytes) {
        return "Not an EDF file: " + std::to_string(h.fileBytes) +
               " bytes are too few for its 256-byte header";
    }
    std::vector<std::uint8_t> fixed(kFixedHeaderBytes);
    if (!source_->read(0, fixed)) {
        return "The EDF header could not be read";
    }
    auto field = [&](std::size_t from, std::size_t length) {
        return fieldText(std::span(fixed).subspan(from, length));
    };
    if (fixed[0] == 0xFF) {
        return "BDF files (24-bit samples) are not supported, only EDF and EDF+";
    }
    if (field(0, 8) != "0") {
        return "Not an EDF file: the version field is not 0";
    }
    h.patient = field(8, 80);
    h.recording = field(88, 80);
    h.startDate = field(168, 8);
    h.startTime = field(176, 8);
    std::string reserved = field(192, 44);
    h.edfPlus = reserved.starts_with("EDF+C") || reserved.starts_with("EDF+D");
    h.discontinuous = reserved.starts_with("EDF+D");

    auto signalCount = parseInteger(field(252, 4));
    if (!signalCount || *signalCount < 1 || *signalCount > long(kMaxSignals)) {
        return "The EDF header's number of signals is not a number from 1 to 9999";
    }
    const auto ns = static_cast<std::size_t>(*signalCount);
    const std::uint64_t needed = kFixedHeaderBytes + ns * kSignalHeaderBytes;
    auto headerBytes = parseInteger(field(184, 8));
    if (!headerBytes || std::uint64_t(std::max(0LL, *headerBytes)) != needed) {
        return "The EDF header's length field (" + field(184, 8) + ") does not match its " +
               std::to_string(ns) + " signals, which need " + std::to_string(needed) + " bytes";
    }
    if (h.fileBytes < needed) {
        return "The EDF header is cut short: its " + std::to_string(ns) + " signals need " +
               std::to_string(needed) + " bytes, the file has " + std::to_string(h.fileBytes);
    }
    h.headerBytes = needed;

    auto records = parseInteger(field(236, 8));
    if (!records || *records < -1) {
        return "The EDF header's number of data records (" + field(236, 8) + ") is not a number";
    }
    h.declaredRecords = *records;
    auto duration = parseNumber(field(244, 8));
    if (!duration || *duration < 0 || *duration > 1e6) {
        return "The EDF header's record duration (" + field(244, 8) +
               ") is not a number of seconds";
    }
    h.recordSeconds = *duration;

    std::vector<std::uint8_t> part(ns * kSignalHeaderBytes);
    if (!source_->read(kFixedHeaderBytes, part)) {
        return "The EDF signal headers could not be read";
    }
    std::size_t offset = 0;
    auto column = [&](std::size_t width, std::size_t index) {
        return fieldText(std::span(part).subspan(offset + index * width, width));
    };
    h.signalList.resize(ns);
    std::vector<std::string> physMin(ns), physMax(ns), digMin(ns), digMax(ns), samples(ns);
    for (auto [width, target] :
         std::initializer_list<std::pair<std::size_t, std::vector<std::string>*>>{{16, nullptr},
                                                                                  {80, nullptr},
                                                                                  {8, nullptr},
                                                                                  {8, &physMin},
                                                                                  {8, &physMax},
                                                                                  {8, &digMin},
                                                                                  {8, &digMax},
                                                                                  {80, nullptr},
                                                                                  {8, &samples},
                                                                                  {32, nullptr}}) {
        for (std::size_t i = 0; i < ns; ++i) {
            std::string value = column(width, i);
            if (target) {
                (*target)[i] = std::move(value);
            } else if (offset == 0) {
                h.signalList[i].label = std::move(value);
            } else if (offset == ns * 16) {
                h.signalList[i].transducer = std::move(value);
            } else if (offset == ns * 96) {
                h.signalList[i].dimension = std::move(value);
            } else if (offset == ns * 136) {
                h.signalList[i].prefilter = std::move(value);
            }
        }
        offset += width * ns;
    }

    std::uint64_t recordBytes = 0;
    for (std::size_t i = 0; i < ns; ++i) {
        EdfSignal& s = h.signalList[i];
        const std::string name = "Signal " + std::to_string(i + 1) + " (" + s.label + ")";
        s.annotations = h.edfPlus && s.label == "EDF Annotations";
        auto count = parseInteger(samples[i]);
        if (!count || *count < 1 || *count > 99'999'999) {
            return name + ": the number of samples per record (" + samples[i] +
                   ") is not a number from 1 up";
        }
        s.samplesPerRecord = static_cast<std::uint32_t>(*count);
        auto dmin = parseInteger(digMin[i]);
        auto dmax = parseInteger(digMax[i]);
        auto pmin = parseNumber(physMin[i]);
        auto pmax = parseNumber(physMax[i]);
        if (!s.annotations) {
            if (!dmin || !dmax || *dmin < -32768 || *dmax > 32767 || *dmin >= *dmax) {
                return name + ": the digital range (" + digMin[i] + " to " + digMax[i] +
                       ") is not a range of 16-bit values";
            }
            if (!pmin || !pmax || *pmin == *pmax) {
                return name + ": the physical range (" + physMin[i] + " to " + physMax[i] +
                       ") is not a range of numbers";
            }
            s.digitalMinimum = static_cast<int>(*dmin);
            s.digitalMaximum = static_cast<int>(*dmax);
            s.physicalMinimum = *pmin;
            s.physicalMaximum = *pmax;
            ordinary_.push_back(i);
        }
        s.offsetInRecord = recordBytes;
        recordBytes += std::uint64_t(s.samplesPerRecord) * 2;
    }
    if (!ordinary_.empty() && h.recordSeconds <= 0) {
        return "The EDF header's record duration is 0, so its signals have no sample rate";
    }
    // A duration such as 1e-300 s gives rates no instrument has, which would
    // only turn into hundreds of digits in a message or a sample index.
    for (std::size_t i : ordinary_) {
        const EdfSignal& s = h.signalList[i];
        if (s.samplesPerSecond(h.recordSeconds) > kMaxSamplesPerSecond) {
            char rate[32];
            std::snprintf(rate, sizeof rate, "%.3g", s.samplesPerSecond(h.recordSeconds));
            return "The EDF header's record duration (" + field(244, 8) + " s) gives signal " +
                   std::to_string(i + 1) + " (" + s.label + ") " + rate +
                   " samples a second, more than the 1e+09 this program reads";
        }
    }
    h.recordBytes = recordBytes;
    h.recordsOnDisk = (h.fileBytes - h.headerBytes) / recordBytes;
    h.usableRecords =
        h.declaredRecords < 0
            ? h.recordsOnDisk
            : std::min<std::uint64_t>(std::uint64_t(h.declaredRecords), h.recordsOnDisk);
    return {};
}

bool EdfReader::readRecord(std::uint64_t index, EdfRecord& out) {
    return read(index, out, true);
}

bool EdfReader::readAnnotations(std::uint64_t index, EdfRecord& out) {
    return read(index, out, false);
}

bool EdfReader::read(std::uint64_t index, EdfRecord& out, bool samples) {
    const EdfHeader& h = header_;
    if (!source_ || index >= h.usableRecords) {
        return false;
    }
    const std::uint64_t at = h.headerBytes + index * h.recordBytes;
    if (samples) {
        buffer_.resize(h.recordBytes);
        if (!source_->read(at, buffer_)) {
            return false;
        }
    } else {
        buffer_.resize(h.recordBytes);  // within the file's size: the record is on disk
        for (const EdfSignal& s : h.signalList) {
            if (!s.annotations) {
                continue;
            }
            auto part = std::span(buffer_).subspan(s.offsetInRecord, s.samplesPerRecord * 2ULL);
            if (!source_->read(at + s.offsetInRecord, part)) {
                return false;
            }
        }
    }
    out.samples.resize(samples ? ordinary_.size() : 0);
    out.annotations.clear();
    out.hasTimekeeping = false;
    out.unreadableBytes = 0;
    out.start = double(index) * h.recordSeconds;
    std::size_t ordinaryIndex = 0;
    bool firstAnnotationSignal = true;
    for (const EdfSignal& s : h.signalList) {
        auto bytes = std::span<const std::uint8_t>(buffer_).subspan(s.offsetInRecord,
                                                                    s.samplesPerRecord * 2ULL);
        if (s.annotations) {
            EdfRecord part;
            parseAnnotations(bytes, part);
            if (firstAnnotationSignal && part.hasTimekeeping) {
                out.start = part.start;
                out.hasTimekeeping = true;
            }
            firstAnnotationSignal = false;
            out.unreadableBytes += part.unreadableBytes;
            std::move(part.annotations.begin(), part.annotations.end(),
                      std::back_inserter(out.annotations));
            continue;
        }
        if (!samples) {
            continue;
        }
        auto& target = out.samples[ordinaryIndex++];
        target.resize(s.samplesPerRecord);
        for (std::size_t k = 0; k < s.samplesPerRecord; ++k) {
            target[k] = static_cast<std::int16_t>(
                static_cast<std::uint16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8)));
        }
    }
    return true;
}

void EdfReader::parseAnnotations(std::span<const std::uint8_t> bytes, EdfRecord& out) {
    const std::size_t n = bytes.size();
    auto text = [&](std::size_t from, std::size_t to) {
        return std::string(reinterpret_cast<const char*>(bytes.data()) + from, to - from);
    };
    auto skipToEnd = [&](std::size_t from) {
        std::size_t to = from;
        while (to < n && bytes[to] != 0) {
            ++to;
        }
        out.unreadableBytes += to - from;
        return to;
    };
    bool firstTal = true;
    std::size_t i = 0;
    while (i < n) {
        if (bytes[i] == 0) {
            ++i;
            continue;
        }
        const std::size_t talStart = i;
        std::size_t j = i;
        while (j < n && bytes[j] != kDurationSeparator && bytes[j] != kTextSeparator &&
               bytes[j] != 0) {
            ++j;
        }
        auto onset = parseTalNumber(text(i, j), true);
        std::optional<double> duration;
        if (onset && j < n && bytes[j] == kDurationSeparator) {
            std::size_t k = ++j;
            while (j < n && bytes[j] != kTextSeparator && bytes[j] != 0) {
                ++j;
            }
            duration = parseTalNumber(text(k, j), false);
            if (!duration) {
                onset.reset();
            }
        }
        if (!onset || j >= n || bytes[j] != kTextSeparator) {
            i = skipToEnd(talStart);
            firstTal = false;
            continue;
        }
        ++j;
        bool firstText = true;
        while (j < n && bytes[j] != 0) {
            std::size_t k = j;
            while (k < n && bytes[k] != kTextSeparator && bytes[k] != 0) {
                ++k;
            }
            if (k >= n || bytes[k] != kTextSeparator) {
                j = skipToEnd(j);  // a text without its closing separator
                break;
            }
            if (firstTal && firstText && k == j) {
                out.start = *onset;
                out.hasTimekeeping = true;
            } else if (k > j) {
                out.annotations.push_back({*onset, duration.value_or(-1.0), text(j, k)});
            }
            firstText = false;
            j = k + 1;
        }
        firstTal = false;
        i = j;
    }
}

}  // namespace vitalon::recording
