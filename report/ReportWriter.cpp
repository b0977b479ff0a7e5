#include "ReportWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "ReportDocuments.h"

namespace vitalon::report {

namespace {

constexpr std::size_t kMaxSerialLength = 64;

bool keptInFileName(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

// One report file written under a temporary name beside its own, and removed
// again unless it was renamed into place.
struct PendingFile {
    QString path;
    std::unique_ptr<QTemporaryFile> temporary;
};

QString cannotWrite(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot write the report file %1: %2").arg(path, reason);
}

// Writes `data` whole to a new temporary file in the folder of `path`. The
// reason for a failure is the system's own (errno) text, as the disk gave it:
// "No space left on device", "File too large".
bool writeTemporary(PendingFile& file, const QByteArray& data, QString& error) {
    const QFileInfo target(file.path);
    file.temporary = std::make_unique<QTemporaryFile>(
        target.dir().filePath(QStringLiteral(".") + target.fileName() + QStringLiteral(".XXXXXX")));
    if (!file.temporary->open()) {
        error = cannotWrite(file.path, file.temporary->errorString());
        return false;
    }
    errno = 0;
    const bool written = file.temporary->write(data) == data.size() && file.temporary->flush();
    const int writeError = errno;
    if (!written) {
        error = cannotWrite(file.path, writeError != 0
                                           ? QString::fromLocal8Bit(std::strerror(writeError))
                                           : file.temporary->errorString());
        return false;
    }
    file.temporary->close();
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
    // All three or none: each is written under a temporary name first, and
    // only when every one is complete are they renamed into place. A report
    // missing its PDF (a full disk) must not leave a JSON file saying "pass".
    const std::pair<QString, QByteArray> contents[] = {
        {result.paths.json, reportJson(report)},
        {result.paths.html, reportHtml(report).toUtf8()},
        {result.paths.pdf, pdf},
    };
    std::vector<PendingFile> files;
    for (const auto& [path, data] : contents) {
        files.push_back({path, nullptr});
        if (!writeTemporary(files.back(), data, result.error)) {
            return result;  // the temporary files go with `files`
        }
    }
    for (PendingFile& file : files) {
        // Never over an existing file, even one that appeared since the names were picked.
        if (!file.temporary->rename(file.path)) {
            result.error = cannotWrite(file.path, file.temporary->errorString());
            for (const QString& placed : std::as_const(result.written)) {
                QFile::remove(placed);
            }
            result.written.clear();
            return result;
        }
        file.temporary->setAutoRemove(false);
        result.written << file.path;
    }
    result.ok = true;
    return result;
}

}  // namespace vitalon::report
