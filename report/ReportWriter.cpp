#include "ReportWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include "ReportDocuments.h"

namespace vitalon::report {

namespace {

constexpr std::size_t kMaxSerialLength = 64;

bool keptInFileName(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

// Writes the whole of `data` or nothing; the error names the file.
bool writeWhole(const QString& path, const QByteArray& data, QString& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Cannot write the report file %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.write(data) != data.size() || !file.commit()) {
        error = QStringLiteral("Cannot write the report file %1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

}  // namespace

std::string fileNameSafeSerial(std::string_view serialNumber) {
    std::string name;
    for (char c : serialNumber) {
        if (name.size() == kMaxSerialLength) {
            break;
        }
        name += keptInFileName(c) ? c : '_';
    }
    if (!name.empty() && (name.front() == '.' || name.front() == '-')) {
        name.front() = '_';
    }
    return name.empty() ? "unnamed" : name;
}

ReportPaths pickReportPaths(const QString& folder, std::string_view serialNumber,
                            const QDateTime& time) {
    const QDir dir(folder);
    const QString stem = QString::fromStdString(fileNameSafeSerial(serialNumber)) + '-' +
                         time.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    ReportPaths paths;
    for (int attempt = 1;; ++attempt) {
        paths.baseName = attempt == 1 ? stem : stem + '-' + QString::number(attempt);
        paths.pdf = dir.filePath(paths.baseName + QStringLiteral(".pdf"));
        paths.html = dir.filePath(paths.baseName + QStringLiteral(".html"));
        paths.json = dir.filePath(paths.baseName + QStringLiteral(".json"));
        if (!QFileInfo::exists(paths.pdf) && !QFileInfo::exists(paths.html) &&
            !QFileInfo::exists(paths.json)) {
            return paths;
        }
    }
}

QString reportFolderProblem(const QString& folder) {
    if (folder.isEmpty()) {
        return QStringLiteral("No report folder was given.");
    }
    const QFileInfo info(folder);
    if (!info.exists()) {
        return QStringLiteral("The report folder %1 does not exist.").arg(folder);
    }
    if (!info.isDir()) {
        return QStringLiteral("The report folder %1 is not a folder.").arg(folder);
    }
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".vitalon-write-test-XXXXXX")));
    if (!probe.open()) {
        return QStringLiteral("Cannot write into the report folder %1: %2")
            .arg(folder, probe.errorString());
    }
    return {};
}

ReportWriteResult writeReport(const TestReport& report, const QString& folder) {
    ReportWriteResult result;
    result.error = reportFolderProblem(folder);
    if (!result.error.isEmpty()) {
        return result;
    }

    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        report.facts.startedAt.time_since_epoch());
    result.paths = pickReportPaths(folder, report.facts.serialNumber,
                                   QDateTime::fromMSecsSinceEpoch(ms.count()));

    const QByteArray pdf = reportPdf(report);
    if (pdf.isEmpty()) {
        result.error = QStringLiteral("The PDF report could not be rendered.");
        return result;
    }
    const std::pair<QString, QByteArray> files[] = {
        {result.paths.json, reportJson(report)},
        {result.paths.html, reportHtml(report).toUtf8()},
        {result.paths.pdf, pdf},
    };
    for (const auto& [path, data] : files) {
        if (!writeWhole(path, data, result.error)) {
            return result;
        }
        result.written << path;
    }
    result.ok = true;
    return result;
}

}  // namespace vitalon::report
