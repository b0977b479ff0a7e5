#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The texts of the annotations Vitalon writes into a recording, and their
// reading back for replay. Each text fits the 40 bytes that EDFlib keeps of
// an annotation.
namespace vitalon::recording {

inline constexpr std::size_t kMaxAnnotationBytes = 40;

enum class ReportKind { Pulse, Respiration, Status };

struct Report {
    ReportKind kind;
    std::uint8_t value;
    bool operator==(const Report&) const = default;
};

std::string reportText(Report report);  // "Pulse 72", "Resp 18", "Status 17"
std::optional<Report> parseReport(std::string_view text);

inline constexpr std::string_view kLeadOffText = "Lead off";
inline constexpr std::string_view kLeadBackText = "Lead back";
inline constexpr std::string_view kRecordingEndsText = "Recording ends";
inline constexpr std::string_view kNextFilePrefix = "Next file ";
inline constexpr std::string_view kPreviousFilePrefix = "Follows ";

std::string silenceText(long long seconds);  // "No data for 12 s"
std::optional<long long> parseSilence(std::string_view text);

// "N annotations left out": written when more events arrived than the file
// has room for, so nothing goes missing without a trace.
std::string leftOutText(std::uint64_t count);

// "Next file NAME-2.edf". A name too long for the annotation keeps its end,
// after "Next file ...", which replay matches against the expected next name.
std::string nextFileText(std::string_view fileName);
struct NextFile {
    std::string name;  // the whole name, or the end of it
    bool partial;      // only the end is known
};
std::optional<NextFile> parseNextFile(std::string_view text);

// Cuts `text` to at most `maxBytes` without splitting a UTF-8 character, and
// replaces control characters, which EDF+ does not allow in annotations.
std::string fitAnnotation(std::string_view text, std::size_t maxBytes = kMaxAnnotationBytes);

}  // namespace vitalon::recording
