#include "ReportWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>

#include "ReportDocuments.h"

namespace vitalon::report {

namespace {

constexpr std::size_t kMaxSerialLength = 64;

bool keptInFileName(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

// Temporary files made by one writeReport(); those still listed when it
// returns (not renamed into place) are removed.
struct TemporaryFiles {
    QStringList paths;
    ~TemporaryFiles() {
        for (const QString& path : std::as_const(paths)) {
            QFile::remove(path);
        }
    }
};

QString cannotWrite(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot write the report file %1: %2").arg(path, reason);
}

constexpr int kMostTemporaryNames = 100;

// Writes `data` whole to a new hidden file beside `path` (".NAME.partial"),
// listed in `temporaries`, and returns its name; empty, with `error` set,
// when that fails. A new file gets the permissions any new file of the user
// gets, so the renamed report is as readable as the recording. The reason for
// a failure is the system's own (errno) text, as the disk gave it: "No space
// left on device", "File too large".
QString writeTemporary(const QString& path, const QByteArray& data, TemporaryFiles& temporaries,
                       QString& error) {
    const QFileInfo target(path);
    QFile file;
    for (int n = 1;; ++n) {
        file.setFileName(target.dir().filePath(QStringLiteral(".") + target.fileName() +
                                               (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) +
                                               QStringLiteral(".partial")));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            break;
        }
        if (!file.exists() || n == kMostTemporaryNames) {
            error = cannotWrite(path, file.errorString());
            return {};
        }
    }
    temporaries.paths << file.fileName();
    errno = 0;
    const bool written = file.write(data) == data.size() && file.flush();
    const int writeError = errno;
    if (!written) {
        error =
            cannotWrite(path, writeError != 0 ? QString::fromLocal8Bit(std::strerror(writeError))
                                              : file.errorString());
        return {};
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        error = cannotWrite(path, file.errorString());
        return {};
    }
    return file.fileName();
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
    TemporaryFiles temporaries;
    QStringList written;
    for (const auto& [path, data] : contents) {
        written << writeTemporary(path, data, temporaries, result.error);
        if (written.back().isEmpty()) {
            return result;  // the temporary files go with `temporaries`
        }
    }
    for (qsizetype i = 0; i < written.size(); ++i) {
        const QString& path = contents[i].first;
        // QFile::rename never replaces a file, even one that appeared since
        // the names were picked.
        QFile file(written[i]);
        if (!file.rename(path)) {
            result.error = cannotWrite(path, file.errorString());
            for (const QString& placed : std::as_const(result.written)) {
                QFile::remove(placed);
            }
            result.written.clear();
            return result;
        }
        temporaries.paths.removeOne(written[i]);
        result.written << path;
    }
    result.ok = true;
    return result;
}

}  // namespace vitalon::report
