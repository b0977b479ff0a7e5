#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <string>
#include <string_view>

#include "TestReport.h"

namespace vitalon::report {

// The serial number as it may stand in a file name: letters, digits, '-', '_'
// and '.' are kept, anything else (a path separator, a space, a control
// character) becomes '_'; it never starts with '.' or '-', so it can neither
// climb out of the folder, hide, nor read as an option; at most 64 characters;
// "unnamed" when nothing is left.
std::string fileNameSafeSerial(std::string_view serialNumber);

struct ReportPaths {
    QString baseName;  // "SN1234-20261207-153000"
    QString pdf;
    QString html;
    QString json;
};

// The report's files in `folder`, named after the serial number and the local
// time: SERIAL-YYYYMMDD-HHMMSS.pdf, .html, .json. When any of them exists
// already, "-2", "-3", ... is added, so an earlier report is never overwritten.
ReportPaths pickReportPaths(const QString& folder, std::string_view serialNumber,
                            const QDateTime& time);

// What keeps `folder` from taking a report: missing, not a folder, or no file
// can be created in it (tried with a temporary file). Empty when it can.
// Worth asking before a run, so that a test station does not find out after
// three minutes of testing.
QString reportFolderProblem(const QString& folder);

struct ReportWriteResult {
    bool ok = false;
    QString error;  // what went wrong and with which file or folder; empty when ok
    ReportPaths paths;
    QStringList written;  // the files that are complete on disk
};

// Renders the PDF, the HTML page and the JSON file and writes them into
// `folder`, which must exist. The three appear together, each whole, or none
// does (written under temporary names beside, renamed when all are complete).
// A folder that is missing or not writable, or a write that fails (a full
// disk, a file-size limit), ends with ok false and an error text naming the
// file and the system's reason; nothing throws.
ReportWriteResult writeReport(const TestReport& report, const QString& folder);

}  // namespace vitalon::report
