#include "SpaceNeed.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vitalon::report {

namespace {

constexpr double kFastestSamplesPerSecond = 300.0;  // "S0"
// Per second of recording: two bytes a sample, and the space EDFlib keeps in
// every record for its six annotation signals.
constexpr double kAnnotationBytesPerSecond = 114.0 * 6;
constexpr double kFileHeaderBytes = 256.0 * 8;
constexpr int kMostRecordingFiles = 16;  // one more with every change of speed
constexpr double kCommands = 40.0;       // each followed by the settling time
// The report files without their pictures, and each calibration sample as the
// JSON list and the pictures hold it.
constexpr double kReportBaseBytes = 2.0 * 1024 * 1024;
constexpr double kReportBytesPerCalibrationSample = 16.0;
// Estimates err on the large side: a run refused for want of a megabyte is
// cheaper than one that ends without its report.
constexpr double kMargin = 1.25;
constexpr double kExtraSeconds = 30.0;

std::string megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

}  // namespace

SpaceNeed estimateSpaceNeed(const analysis::TestLimits& l) {
    double seconds = 3 * l.link.samplesWithinSeconds + l.link.statusWithinSeconds +
                     kCommands * l.settleSeconds + 3 * l.sampleRate.measureSeconds +
                     3 * l.calibration.recordSeconds + 3 * l.leads.measureSeconds +
                     2 * l.mainsFilter.measureSeconds + l.simulation.measureSeconds +
                     l.reports.pulseMeasureSeconds + l.reports.respirationMeasureSeconds +
                     2 * l.reports.maxStatusIntervalSeconds;
    if (l.reports.leadOffCheck) {
        seconds += 2 * (l.reports.promptTimeoutSeconds + l.reports.leadOffWithinSeconds);
    }
    SpaceNeed need;
    need.seconds = seconds * kMargin + kExtraSeconds;
    const double recording =
        need.seconds * (2 * kFastestSamplesPerSecond + kAnnotationBytesPerSecond) +
        kMostRecordingFiles * kFileHeaderBytes;
    const double report = kReportBaseBytes + 3 * l.calibration.recordSeconds *
                                                 kFastestSamplesPerSecond *
                                                 kReportBytesPerCalibrationSample;
    need.recordingBytes = static_cast<std::uint64_t>(std::ceil(recording));
    need.reportBytes = static_cast<std::uint64_t>(std::ceil(report));
    // Every file of the recording may be the whole of it (one speed throughout);
    // each report file is below the three together.
    need.largestFileBytes = std::max(need.recordingBytes, need.reportBytes);
    return need;
}

std::string spaceProblem(const SpaceNeed& need, const std::string& folder,
                         std::optional<std::uint64_t> freeBytes,
                         std::optional<std::uint64_t> fileSizeLimit) {
    const std::string figures = "the run needs about " + megabytes(double(need.totalBytes())) +
                                " (" + megabytes(double(need.recordingBytes)) +
                                " of recording for up to " +
                                std::to_string(std::lround(need.seconds)) + " s and " +
                                megabytes(double(need.reportBytes)) + " of report)";
    if (freeBytes && *freeBytes < need.totalBytes()) {
        return "Not enough free space in " + folder + ": " + figures + ", and " +
               megabytes(double(*freeBytes)) + " are free.";
    }
    if (fileSizeLimit && *fileSizeLimit < need.largestFileBytes) {
        return "The file-size limit of this process (ulimit -f) is " +
               std::to_string(*fileSizeLimit) + " bytes: " + figures + ", and one file may reach " +
               megabytes(double(need.largestFileBytes)) + ".";
    }
    return {};
}

}  // namespace vitalon::report
