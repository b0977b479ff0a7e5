#include "EarlierReports.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "ReportDocuments.h"
#include "ReportWriter.h"

namespace vitalon::report {

namespace {

// Far above any report (a run's pictures take a few hundred kilobytes), so
// that a stray huge file with a report's name is skipped, not read into memory.
constexpr qint64 kLargestReport = 64LL * 1024 * 1024;

bool isReportOf(const QString& path, const QString& serialNumber) {
    QFile file(path);
    if (file.size() > kLargestReport || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    return root.value(QStringLiteral("format")).toString() ==
               QString::fromUtf8(kReportFormatName.data(),
                                 static_cast<qsizetype>(kReportFormatName.size())) &&
           root.value(QStringLiteral("serialNumber")).toString() == serialNumber;
}

}  // namespace

int attemptFromReportFolder(const QString& folder, std::string_view serialNumber) {
    // Report names start with the serial number as made safe for a file name;
    // several serial numbers may share that, so each file says whose it is.
    const QString prefix = QString::fromStdString(fileNameSafeSerial(serialNumber));
    const QString serial =
        QString::fromUtf8(serialNumber.data(), static_cast<qsizetype>(serialNumber.size()));
    const QDir dir(folder);
    int earlier = 0;
    for (const QString& name :
         dir.entryList({prefix + QStringLiteral("-*.json")}, QDir::Files | QDir::Readable)) {
        earlier += isReportOf(dir.filePath(name), serial) ? 1 : 0;
    }
    return earlier + 1;
}

}  // namespace vitalon::report
