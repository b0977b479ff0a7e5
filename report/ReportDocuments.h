#pragma once

#include <QByteArray>
#include <QString>
#include <string_view>

#include "TestReport.h"

namespace vitalon::report {

// The three forms of a test report, rendered in memory; ReportWriter puts them
// into files.

// The report as JSON for databases, in the format that
// docs/module-test-report.schema.json describes.
inline constexpr int kReportFormatVersion = 2;
inline constexpr std::string_view kReportFormatName = "vitalon-module-test-report";
QByteArray reportJson(const TestReport& report);

// One self-contained HTML page: styles inline, pictures as PNG data URIs.
QString reportHtml(const TestReport& report);

// The same content as a PDF on A4. Empty when it could not be rendered.
QByteArray reportPdf(const TestReport& report);

// Text made safe for HTML element content and quoted attribute values.
QString htmlEscaped(std::string_view text);

}  // namespace vitalon::report
