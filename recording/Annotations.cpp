#include "Annotations.h"

#include <charconv>

namespace vitalon::recording {

namespace {

constexpr std::string_view kPulseText = "Pulse ";
constexpr std::string_view kRespirationText = "Resp ";
constexpr std::string_view kStatusText = "Status ";
constexpr std::string_view kSilencePrefix = "No data for ";
constexpr std::string_view kSilenceSuffix = " s";
constexpr std::string_view kEllipsis = "...";

std::optional<long long> parseWhole(std::string_view digits) {
    if (digits.empty() || digits.size() > 18) {
        return std::nullopt;
    }
    long long value = 0;
    const auto* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (ec != std::errc() || ptr != end || value < 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string reportText(Report report) {
    std::string_view prefix = report.kind == ReportKind::Pulse         ? kPulseText
                              : report.kind == ReportKind::Respiration ? kRespirationText
                                                                       : kStatusText;
    return std::string(prefix) + std::to_string(report.value);
}

std::optional<Report> parseReport(std::string_view text) {
    for (auto [prefix, kind] : {std::pair{kPulseText, ReportKind::Pulse},
                                std::pair{kRespirationText, ReportKind::Respiration},
                                std::pair{kStatusText, ReportKind::Status}}) {
        if (text.starts_with(prefix)) {
            auto value = parseWhole(text.substr(prefix.size()));
            if (value && *value <= 255) {
                return Report{kind, static_cast<std::uint8_t>(*value)};
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::string silenceText(long long seconds) {
    return std::string(kSilencePrefix) + std::to_string(seconds) + std::string(kSilenceSuffix);
}

std::optional<long long> parseSilence(std::string_view text) {
    if (!text.starts_with(kSilencePrefix) || !text.ends_with(kSilenceSuffix)) {
        return std::nullopt;
    }
    text.remove_prefix(kSilencePrefix.size());
    text.remove_suffix(kSilenceSuffix.size());
    return parseWhole(text);
}

std::string leftOutText(std::uint64_t count) {
    return std::to_string(count) + " annotations left out";
}

std::string nextFileText(std::string_view fileName) {
    std::string text = std::string(kNextFilePrefix) + std::string(fileName);
    if (text.size() <= kMaxAnnotationBytes) {
        return text;
    }
    const std::size_t keep = kMaxAnnotationBytes - kNextFilePrefix.size() - kEllipsis.size();
    return std::string(kNextFilePrefix) + std::string(kEllipsis) +
           std::string(fileName.substr(fileName.size() - keep));
}

std::optional<NextFile> parseNextFile(std::string_view text) {
    if (!text.starts_with(kNextFilePrefix)) {
        return std::nullopt;
    }
    text.remove_prefix(kNextFilePrefix.size());
    bool partial = text.starts_with(kEllipsis);
    if (partial) {
        text.remove_prefix(kEllipsis.size());
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return NextFile{std::string(text), partial};
}

std::string fitAnnotation(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    for (char c : text.substr(0, std::min(text.size(), maxBytes))) {
        auto byte = static_cast<unsigned char>(c);
        out.push_back(byte < 0x20 || byte == 0x7f ? ' ' : c);
    }
    if (text.size() > maxBytes) {
        // Drop a UTF-8 character that the cut split: continuation bytes at the
        // end, and the lead byte they belong to.
        std::size_t end = out.size();
        std::size_t continuation = 0;
        while (end > 0 && (static_cast<unsigned char>(out[end - 1]) & 0xC0) == 0x80) {
            --end;
            ++continuation;
        }
        if (end > 0 && static_cast<unsigned char>(out[end - 1]) >= 0xC0) {
            auto lead = static_cast<unsigned char>(out[end - 1]);
            std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            if (continuation + 1 < length) {
                out.resize(end - 1);
            }
        }
    }
    return out;
}

}  // namespace vitalon::recording
