#include "ReportDocuments.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTextFrame>
#include <QTimeZone>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "LikelyFaults.h"
#include "ReportPictures.h"

namespace vitalon::report {

using analysis::CheckResult;
using analysis::StepResult;
using analysis::Verdict;

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// " (simulated module, not a module result)" after the outcome in a title,
// so that a browser tab or a PDF viewer's title bar does not show a bare PASS.
std::string noticeSuffix(const RunFacts& facts) {
    std::string text;
    for (const std::string& notice : facts.notices) {
        text += (text.empty() ? " (" : "; ") + notice;
    }
    return text.empty() ? text : text + ")";
}

// `time` in the station's zone (the system's when the facts name none or one
// this system does not know).
QDateTime inStationZone(std::chrono::system_clock::time_point time, const RunFacts& facts) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    const QTimeZone zone(QByteArray::fromStdString(facts.timeZone));
    return facts.timeZone.empty() || !zone.isValid()
               ? QDateTime::fromMSecsSinceEpoch(ms.count())
               : QDateTime::fromMSecsSinceEpoch(ms.count(), zone);
}

QDateTime startedAt(const TestReport& report) {
    return inStationZone(report.facts.startedAt, report.facts);
}

// ISO 8601 with the offset from UTC: "2026-12-07T16:30:00+01:00".
QString isoTime(const QDateTime& time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

// "2026-12-07 16:30:00 CET (UTC+01:00, Europe/Berlin)" for people.
QString readableTime(const QDateTime& time, const RunFacts& facts) {
    QString text = time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
    const int offset = time.offsetFromUtc();
    text += QStringLiteral(" (UTC%1%2:%3")
                .arg(offset < 0 ? QChar('-') : QChar('+'))
                .arg(std::abs(offset) / 3600, 2, 10, QChar('0'))
                .arg(std::abs(offset) % 3600 / 60, 2, 10, QChar('0'));
    if (!facts.timeZone.empty()) {
        text += QStringLiteral(", ") + QString::fromStdString(facts.timeZone);
    }
    return text + QChar(')');
}

QString hex4(std::uint16_t value) {
    return QStringLiteral("%1").arg(value, 4, 16, QChar('0'));
}

// "COM1 (/dev/ttyUSB0)", "none".
QString portText(const PortFacts& port) {
    if (port.name.empty() && port.device.empty()) {
        return QStringLiteral("none");
    }
    QString text = QString::fromStdString(port.name.empty() ? port.device : port.name);
    if (!port.name.empty() && !port.device.empty()) {
        text += QStringLiteral(" (") + QString::fromStdString(port.device) + QChar(')');
    }
    return text;
}

// "USB 0403:6001, serial number A5XK3RJT, FTDI FT232R USB UART"; what is
// not known is left out.
QString adapterText(const PortFacts& port) {
    QStringList parts;
    if (port.usb) {
        parts << QStringLiteral("USB %1:%2").arg(hex4(port.usbVendorId), hex4(port.usbProductId));
        parts << (port.adapterSerialNumber.empty()
                      ? QStringLiteral("no serial number")
                      : QStringLiteral("serial number ") +
                            QString::fromStdString(port.adapterSerialNumber));
    } else if (!port.device.empty()) {
        parts << QStringLiteral("not a USB adapter");
    }
    const QString make =
        QString::fromStdString(port.manufacturer + (port.manufacturer.empty() ? "" : " ") +
                               port.description)
            .trimmed();
    if (!make.isEmpty()) {
        parts << make;
    }
    return parts.isEmpty() ? QStringLiteral("not known") : parts.join(QStringLiteral(", "));
}

// A failed check's likely fault; empty for any other check.
std::string_view faultOf(const CheckResult& check) {
    return check.judged && !check.passed ? likelyFault(check.id) : std::string_view{};
}

// `text` as a CSS string literal: anything but letters, digits, blanks and
// plain punctuation as a hex escape, so a serial number can neither end the
// string nor the style element.
QString cssString(const QString& text) {
    QString css = QStringLiteral("\"");
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                           (u >= '0' && u <= '9') || u == ' ' || u == '-' || u == '_' || u == '.' ||
                           u == ',' || u == ':' || u == ';' || u == '(' || u == ')';
        css += plain ? QString(c) : QStringLiteral("\\%1 ").arg(static_cast<uint>(u), 0, 16);
    }
    return css + QChar('"');
}

QString seconds(std::optional<double> value) {
    return value ? QString::number(*value, 'f', 1) + QStringLiteral(" s") : QStringLiteral("-");
}

QJsonValue number(std::optional<double> value) {
    if (!value || !std::isfinite(*value)) {
        return QJsonValue::Null;
    }
    return *value;
}

QJsonValue textOrNull(const std::string& text) {
    return text.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(qs(text));
}

// "PASS", "FAIL", "NOT JUDGED"; a marginal pass says so.
QString checkVerdictText(const CheckResult& check) {
    if (!check.judged) {
        return QStringLiteral("NOT JUDGED");
    }
    if (!check.passed) {
        return QStringLiteral("FAIL");
    }
    return check.marginal ? QStringLiteral("PASS (marginal)") : QStringLiteral("PASS");
}

QString checkVerdictKey(const CheckResult& check) {
    return !check.judged  ? QStringLiteral("not-judged")
           : check.passed ? QStringLiteral("pass")
                          : QStringLiteral("fail");
}

QJsonObject checkJson(const CheckResult& check) {
    return {
        {"id", qs(check.id)},
        {"name", qs(check.name)},
        {"measured", number(check.measured)},
        {"unit", qs(check.unit)},
        {"limit", QJsonObject{{"min", number(check.limit.min)}, {"max", number(check.limit.max)}}},
        {"measuredText", qs(check.measuredText())},
        {"limitText", qs(check.limitText())},
        {"passed", check.passed},
        {"verdict", checkVerdictKey(check)},
        {"marginal", check.marginal},
        {"reason", qs(check.reason)},
        {"likelyFault", textOrNull(std::string(faultOf(check)))},
    };
}

QJsonObject stepJson(const TestReport& report, const StepResult& step) {
    QJsonArray checks;
    for (const CheckResult& check : step.checks) {
        checks.append(checkJson(check));
    }
    return {
        {"number", step.number},
        {"title", qs(step.title)},
        {"verdict", qs(verdictKey(step.verdict))},
        {"reason", qs(step.reason)},
        {"startSeconds", number(stepStartSeconds(report, step))},
        {"durationSeconds", number(stepDurationSeconds(step))},
        {"checks", checks},
    };
}

QJsonObject picturesJson(const analysis::TestPictures& pictures) {
    QJsonArray calibration;
    for (const analysis::CalibrationTrace& trace : pictures.calibration) {
        QJsonArray samples;
        for (std::uint8_t sample : trace.samples) {
            samples.append(sample);
        }
        QJsonValue pulse = QJsonValue::Null;
        if (trace.pulse) {
            pulse = QJsonObject{
                {"baseline", trace.pulse->baseline},
                {"heightCounts", trace.pulse->heightCounts},
                {"widthSeconds", trace.pulse->widthSeconds},
                {"droopPercent", trace.pulse->droopPercent},
                {"rise", static_cast<qint64>(trace.pulse->rise)},
                {"fall", static_cast<qint64>(trace.pulse->fall)},
            };
        }
        calibration.append(QJsonObject{{"amplification", trace.amplification},
                                       {"samplesPerSecond", trace.samplesPerSecond},
                                       {"samples", samples},
                                       {"pulse", pulse}});
    }
    QJsonArray leads;
    for (const analysis::LeadBeat& lead : pictures.leads) {
        QJsonArray samples;
        for (double sample : lead.average.samples) {
            samples.append(std::isfinite(sample) ? QJsonValue(sample) : QJsonValue::Null);
        }
        leads.append(QJsonObject{{"lead", qs(lead.lead)},
                                 {"beatsFound", static_cast<qint64>(lead.beatsFound)},
                                 {"beatsAveraged", static_cast<qint64>(lead.average.beats)},
                                 {"samplesPerSecond", lead.average.samplesPerSecond},
                                 {"rIndex", static_cast<qint64>(lead.average.rIndex)},
                                 {"samples", samples}});
    }
    return {{"calibration", calibration}, {"averagedBeats", leads}};
}

QJsonObject portJson(const PortFacts& port) {
    const auto usbNumber = [&](std::uint16_t value) {
        return port.usb ? QJsonValue(hex4(value)) : QJsonValue(QJsonValue::Null);
    };
    return {
        {"name", textOrNull(port.name)},
        {"device", textOrNull(port.device)},
        {"usb", port.usb},
        {"vendorId", usbNumber(port.usbVendorId)},
        {"productId", usbNumber(port.usbProductId)},
        {"serialNumber", textOrNull(port.adapterSerialNumber)},
        {"manufacturer", textOrNull(port.manufacturer)},
        {"description", textOrNull(port.description)},
    };
}

// The page in the HTML subset that both browsers and QTextDocument (for the
// PDF) render; `pictureSource` gives the src of picture `name`.
QString markup(const TestReport& report,
               const std::function<QString(const QString&)>& pictureSource,
               const QString& extraStyle) {
    const RunFacts& facts = report.facts;
    // Green for a pass, red for a fault found, amber for a module not judged.
    const QString outcomeColour =
        report.outcome == analysis::TestOutcome::Passed   ? QStringLiteral("#1b7a35")
        : report.outcome == analysis::TestOutcome::Failed ? QStringLiteral("#c62828")
                                                          : QStringLiteral("#b26a00");
    const QString outcome = htmlEscaped(outcomeText(report.outcome));
    const QString serial = htmlEscaped(facts.serialNumber);
    QString html;
    html += QStringLiteral(
                "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                "<title>Module test %1: %2</title>\n<style>\n"
                "body { font-family: 'Liberation Sans', Arial, sans-serif; font-size: 10pt; }\n"
                "h1 { font-size: 16pt; } h2 { font-size: 13pt; margin-top: 16px; }\n"
                "th { text-align: left; }\n"
                "table.steps { border-collapse: collapse; }\n"
                "table.steps td, table.steps th { border: 1px solid #999999; }\n"
                "tr.step td { background-color: #eeeeee; font-weight: bold; }\n"
                ".pass { color: #1b7a35; } .fail { color: #c62828; font-weight: bold; }\n"
                ".not-judged { color: #b26a00; font-weight: bold; }\n%3"
                "</style>\n</head>\n<body>\n")
                .arg(serial, outcome + htmlEscaped(noticeSuffix(facts)), extraStyle);
    html += QStringLiteral("<h1>Vitalon module acceptance test</h1>\n");
    for (const std::string& notice : facts.notices) {
        html += QStringLiteral(
                    "<p class=\"notice\" style=\"font-size: 14pt; font-weight: bold; "
                    "color: #c62828;\">%1</p>\n")
                    .arg(htmlEscaped(notice));
    }

    const auto fact = [&](const QString& name, const QString& escapedValue) {
        html += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(name, escapedValue);
    };
    html += QStringLiteral("<table class=\"facts\" cellspacing=\"0\" cellpadding=\"2\">\n");
    fact(QStringLiteral("Serial number"), serial);
    fact(QStringLiteral("Attempt"),
         QStringLiteral("%1 (tests of this serial number so far, this one included)")
             .arg(facts.attempt));
    fact(QStringLiteral("Operator"), htmlEscaped(facts.operatorName));
    fact(QStringLiteral("Station"), htmlEscaped(facts.station));
    if (!facts.hostName.empty() && facts.hostName != facts.station) {
        fact(QStringLiteral("Computer"), htmlEscaped(facts.hostName));
    }
    fact(QStringLiteral("Started"), readableTime(startedAt(report), facts).toHtmlEscaped());
    fact(QStringLiteral("Ended"),
         facts.endedAt ? readableTime(inStationZone(*facts.endedAt, facts), facts).toHtmlEscaped()
                       : QStringLiteral("-"));
    fact(QStringLiteral("Port"), portText(facts.port).toHtmlEscaped());
    fact(QStringLiteral("Adapter"), adapterText(facts.port).toHtmlEscaped());
    fact(QStringLiteral("Vitalon version"),
         htmlEscaped(facts.vitalonVersion) + QStringLiteral(", build ") +
             (facts.buildCommit.empty() ? QStringLiteral("unknown")
                                        : htmlEscaped(facts.buildCommit)));
    fact(QStringLiteral("Limits file"), facts.limitsPath.empty() ? QStringLiteral("built-in limits")
                                                                 : htmlEscaped(facts.limitsPath));
    fact(QStringLiteral("Limits"), htmlEscaped(report.limits.name) + QStringLiteral(", revision ") +
                                       htmlEscaped(report.limits.revision));
    fact(QStringLiteral("Limits SHA-256"), report.limits.sha256.empty()
                                               ? QStringLiteral("none (built-in limits)")
                                               : htmlEscaped(report.limits.sha256));
    fact(QStringLiteral("Limits description"), htmlEscaped(report.limits.description));
    if (facts.recordings.empty()) {
        fact(QStringLiteral("Recording"), facts.recordingFile.empty()
                                              ? QStringLiteral("none")
                                              : htmlEscaped(facts.recordingFile));
    }
    for (std::size_t i = 0; i < facts.recordings.size(); ++i) {
        const RecordedFile& file = facts.recordings[i];
        fact(i == 0 ? QStringLiteral("Recording") : QString(),
             htmlEscaped(file.name) + QStringLiteral("<br>SHA-256 ") +
                 (file.sha256.empty() ? QStringLiteral("not known (the file could not be read)")
                                      : htmlEscaped(file.sha256)));
    }
    fact(QStringLiteral("Duration"), seconds(testDurationSeconds(report)));
    html += QStringLiteral("</table>\n");

    html += QStringLiteral(
                "<p class=\"outcome\" style=\"font-size: 40pt; font-weight: bold; color: %1; "
                "margin: 12px 0px 4px 0px;\">%2</p>\n")
                .arg(outcomeColour, outcome);
    const auto failed = failedSteps(report);
    if (!failed.empty()) {
        html += QStringLiteral("<p><b>Failed steps:</b></p>\n<ul>\n");
        for (const StepResult* step : failed) {
            QString faults;
            for (const CheckResult& check : step->checks) {
                if (const std::string_view fault = faultOf(check); !fault.empty()) {
                    faults += QStringLiteral("<br>Likely fault (<code>%1</code>): %2")
                                  .arg(htmlEscaped(check.id), htmlEscaped(fault));
                }
            }
            html += QStringLiteral("<li><b>%1 %2</b>: %3%4</li>\n")
                        .arg(step->number)
                        .arg(htmlEscaped(step->title), htmlEscaped(step->reason), faults);
        }
        html += QStringLiteral("</ul>\n");
    }
    QString unjudged;
    for (const StepResult& step : report.steps) {
        if (step.verdict == Verdict::Incomplete) {
            unjudged += QStringLiteral("<li><b>%1 %2</b>: %3</li>\n")
                            .arg(step.number)
                            .arg(htmlEscaped(step.title), htmlEscaped(step.reason));
        }
    }
    if (!unjudged.isEmpty()) {
        html += QStringLiteral("<p><b>Steps not judged:</b></p>\n<ul>\n") + unjudged +
                QStringLiteral("</ul>\n");
    }

    html += QStringLiteral(
        "<h2>Steps</h2>\n<table class=\"steps\" width=\"100%\" border=\"1\" cellspacing=\"0\" "
        "cellpadding=\"3\">\n<thead><tr><th>Check</th><th>Identifier</th><th>Measured</th>"
        "<th>Limit</th><th>Verdict</th></tr></thead>\n<tbody>\n");
    for (const StepResult& step : report.steps) {
        const QString verdict = htmlEscaped(verdictText(step.verdict));
        const QString verdictClass = step.verdict == Verdict::Passed   ? QStringLiteral("pass")
                                     : step.verdict == Verdict::Failed ? QStringLiteral("fail")
                                     : step.verdict == Verdict::Incomplete
                                         ? QStringLiteral("not-judged")
                                         : QString();
        html += QStringLiteral(
                    "<tr class=\"step\"><td colspan=\"4\" bgcolor=\"#eeeeee\"><b>%1 %2</b> "
                    "(start %3, took %4)</td><td bgcolor=\"#eeeeee\" class=\"%5\"><b>%6</b></td>"
                    "</tr>\n")
                    .arg(step.number)
                    .arg(htmlEscaped(step.title), seconds(stepStartSeconds(report, step)),
                         seconds(stepDurationSeconds(step)), verdictClass, verdict);
        for (const CheckResult& check : step.checks) {
            html += QStringLiteral(
                        "<tr><td>%1</td><td><code>%2</code></td><td>%3</td><td>%4</td>"
                        "<td class=\"%5\">%6</td></tr>\n")
                        .arg(htmlEscaped(check.name), htmlEscaped(check.id),
                             htmlEscaped(check.measuredText()), htmlEscaped(check.limitText()),
                             checkVerdictKey(check), checkVerdictText(check));
            if (const std::string_view fault = faultOf(check); !fault.empty()) {
                html += QStringLiteral(
                            "<tr><td colspan=\"5\" class=\"likely-fault\"><i>Likely fault: "
                            "%1</i></td></tr>\n")
                            .arg(htmlEscaped(fault));
            }
        }
        // A step ended without checks (skipped, cancelled, stream lost) says why.
        if (step.checks.empty() && !step.reason.empty()) {
            html += QStringLiteral("<tr><td colspan=\"5\"><i>%1</i></td></tr>\n")
                        .arg(htmlEscaped(step.reason));
        }
    }
    html += QStringLiteral("</tbody>\n</table>\n");

    const auto picture = [&](const QString& name) {
        html += QStringLiteral("<p><img src=\"%1\" width=\"%2\" height=\"%3\" alt=\"%4\"></p>\n")
                    .arg(pictureSource(name))
                    .arg(kPictureWidth)
                    .arg(kPictureHeight)
                    .arg(name);
    };
    if (!report.pictures.calibration.empty()) {
        html += QStringLiteral("<h2>Calibration pulses</h2>\n");
        for (std::size_t i = 0; i < report.pictures.calibration.size(); ++i) {
            picture(QStringLiteral("calibration-%1").arg(i));
        }
    }
    if (!report.pictures.leads.empty()) {
        html += QStringLiteral("<h2>Averaged beats</h2>\n");
        for (std::size_t i = 0; i < report.pictures.leads.size(); ++i) {
            picture(QStringLiteral("beat-%1").arg(i));
        }
    }
    // Filled in by hand on the printed report.
    html +=
        QStringLiteral(
            "<h2>Sign-off</h2>\n<table class=\"sign-off\" cellspacing=\"0\" "
            "cellpadding=\"6\">\n<tr><th>Operator</th><td>%1</td></tr>\n"
            "<tr><th>Date</th><td>%2</td></tr>\n<tr><th>Signature</th><td>%3</td></tr>\n"
            "</table>\n")
            .arg(htmlEscaped(facts.operatorName), QString(24, QChar('_')), QString(48, QChar('_')));
    html += QStringLiteral("</body>\n</html>\n");
    return html;
}

// Every picture of the report by the name markup() gives it.
std::vector<std::pair<QString, QImage>> pictures(const TestReport& report) {
    std::vector<std::pair<QString, QImage>> all;
    for (std::size_t i = 0; i < report.pictures.calibration.size(); ++i) {
        all.emplace_back(QStringLiteral("calibration-%1").arg(i),
                         calibrationPicture(report.pictures.calibration[i]));
    }
    for (std::size_t i = 0; i < report.pictures.leads.size(); ++i) {
        all.emplace_back(QStringLiteral("beat-%1").arg(i), beatPicture(report.pictures.leads[i]));
    }
    return all;
}

// Lays `document` out on the writer's pages and prints it, each page with the
// serial number, the outcome and the run's notices on top (a page printed
// alone still says whose result it is and what it is not worth) and
// "page x of y" at the foot.
void paginate(QTextDocument& document, QPdfWriter& writer, const TestReport& report) {
    const double dotsPerPoint = writer.resolution() / 72.0;
    const double frameMargin = 6.0 * dotsPerPoint;
    QFont small = document.defaultFont();
    small.setPointSizeF(8.5);
    QFont bold = document.defaultFont();
    bold.setBold(true);
    const QFontMetricsF smallMetrics(small, &writer);
    const QFontMetricsF boldMetrics(bold, &writer);
    const QStringList notices = [&] {
        QStringList list;
        for (const std::string& notice : report.facts.notices) {
            list << qs(notice);
        }
        return list;
    }();
    const QString noticeLine = notices.join(QStringLiteral("; "));
    const QString title = QStringLiteral("Module test %1: %2")
                              .arg(qs(report.facts.serialNumber), qs(outcomeText(report.outcome)));
    const double width = writer.width();
    const double line = boldMetrics.height() * 1.3;
    const double header = line * (notices.isEmpty() ? 1.5 : 2.5);
    const double footer = smallMetrics.height() * 2.0;
    const double body = writer.height() - header - footer;

    QTextFrameFormat frame = document.rootFrame()->frameFormat();
    frame.setMargin(frameMargin);
    document.rootFrame()->setFrameFormat(frame);
    document.setPageSize(QSizeF(width, body));
    const int pages = std::max(1, document.pageCount());

    QPainter painter(&writer);
    for (int page = 0; page < pages; ++page) {
        if (page > 0) {
            writer.newPage();
        }
        painter.setFont(bold);
        painter.setPen(Qt::black);
        painter.drawText(QRectF(frameMargin, 0, width - 2 * frameMargin, line),
                         Qt::AlignLeft | Qt::AlignVCenter, title);
        if (!notices.isEmpty()) {
            painter.setPen(QColor(0xc6, 0x28, 0x28));
            painter.drawText(QRectF(frameMargin, line, width - 2 * frameMargin, line),
                             Qt::AlignLeft | Qt::AlignVCenter, noticeLine);
        }
        painter.save();
        painter.translate(0, header - page * body);
        const QRectF visible(0, page * body, width, body);
        painter.setClipRect(visible);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = visible;
        document.documentLayout()->draw(&painter, context);
        painter.restore();
        painter.setFont(small);
        painter.setPen(Qt::black);
        painter.drawText(QRectF(frameMargin, header + body, width - 2 * frameMargin, footer),
                         Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("page %1 of %2").arg(page + 1).arg(pages));
    }
}

}  // namespace

QString htmlEscaped(std::string_view text) {
    QString escaped;
    for (const QChar c : QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))) {
        switch (c.unicode()) {
            case '&':
                escaped += QStringLiteral("&amp;");
                break;
            case '<':
                escaped += QStringLiteral("&lt;");
                break;
            case '>':
                escaped += QStringLiteral("&gt;");
                break;
            case '"':
                escaped += QStringLiteral("&quot;");
                break;
            case '\'':
                escaped += QStringLiteral("&#39;");
                break;
            default:
                // Control characters have no place in the page; a line break in
                // a typed field is shown as a space.
                escaped += c.unicode() < 0x20 || c.unicode() == 0x7f ? QChar(' ') : c;
        }
    }
    return escaped;
}

QByteArray reportJson(const TestReport& report) {
    const RunFacts& facts = report.facts;
    const QDateTime time = startedAt(report);
    QJsonArray steps;
    for (const StepResult& step : report.steps) {
        steps.append(stepJson(report, step));
    }
    QJsonArray notices;
    for (const std::string& notice : facts.notices) {
        notices.append(qs(notice));
    }
    QJsonArray recordings;
    for (const RecordedFile& file : facts.recordings) {
        recordings.append(
            QJsonObject{{"file", qs(file.name)}, {"sha256", textOrNull(file.sha256)}});
    }
    QJsonArray failed;
    for (const StepResult* step : failedSteps(report)) {
        failed.append(QJsonObject{{"number", step->number}, {"title", qs(step->title)}});
    }
    const QJsonObject root{
        {"format", QString::fromUtf8(kReportFormatName.data(),
                                     static_cast<qsizetype>(kReportFormatName.size()))},
        {"version", kReportFormatVersion},
        {"serialNumber", qs(facts.serialNumber)},
        {"operator", qs(facts.operatorName)},
        {"station", qs(facts.station)},
        {"hostName", qs(facts.hostName)},
        {"startedAt", isoTime(time)},
        {"endedAt", facts.endedAt ? QJsonValue(isoTime(inStationZone(*facts.endedAt, facts)))
                                  : QJsonValue(QJsonValue::Null)},
        {"timeZone", textOrNull(facts.timeZone)},
        {"vitalonVersion", qs(facts.vitalonVersion)},
        {"buildCommit",
         facts.buildCommit.empty() ? QStringLiteral("unknown") : qs(facts.buildCommit)},
        {"attempt", facts.attempt},
        {"port", portJson(facts.port)},
        {"limits", QJsonObject{{"file", textOrNull(facts.limitsPath)},
                               {"name", qs(report.limits.name)},
                               {"revision", qs(report.limits.revision)},
                               {"sha256", textOrNull(report.limits.sha256)},
                               {"formatVersion", analysis::TestLimits::kFormatVersion},
                               {"description", qs(report.limits.description)},
                               {"values", QJsonDocument::fromJson(QByteArray::fromStdString(
                                                                      limitsToJson(report.limits)))
                                              .object()}}},
        {"recording", textOrNull(facts.recordingFile)},
        {"recordings", recordings},
        {"notices", notices},
        {"outcome", qs(outcomeKey(report.outcome))},
        {"incompleteBecause", textOrNull(incompleteBecause(report.outcome))},
        {"durationSeconds", number(testDurationSeconds(report))},
        {"failedSteps", failed},
        {"steps", steps},
        {"pictures", picturesJson(report.pictures)},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString reportHtml(const TestReport& report) {
    std::map<QString, QString> sources;
    for (const auto& [name, image] : pictures(report)) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        sources[name] =
            QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
    }
    // A printed page carries the serial number, the outcome, the notices and
    // "page x of y" in its margins, like every page of the PDF.
    const QString running =
        cssString(QStringLiteral("Module test %1: %2")
                      .arg(qs(report.facts.serialNumber), qs(outcomeText(report.outcome))));
    const QString notices = cssString(qs(noticeSuffix(report.facts)).trimmed());
    const QString print =
        QStringLiteral(
            "@page { size: A4; margin: 18mm 15mm;\n"
            "  @top-left { content: %1; font-size: 8.5pt; font-weight: bold; }\n"
            "  @top-right { content: %2; font-size: 8.5pt; color: #c62828; }\n"
            "  @bottom-right { content: \"page \" counter(page) \" of \" counter(pages); "
            "font-size: 8.5pt; }\n}\n"
            "@media print { body { max-width: none; margin: 0px; padding: 0px; }\n"
            "  table.sign-off, tr { page-break-inside: avoid; } }\n")
            .arg(running, notices);
    return markup(
        report, [&](const QString& name) { return sources[name]; },
        QStringLiteral("body { max-width: 900px; margin: 20px auto; padding: 0px 12px; }\n"
                       "table.steps td, table.steps th { padding: 3px 6px; }\n"
                       "img { border: 1px solid #dddddd; max-width: 100%; height: auto; }\n") +
            print);
}

QByteArray reportPdf(const TestReport& report) {
    QByteArray pdf;
    QBuffer buffer(&pdf);
    if (!buffer.open(QIODevice::WriteOnly)) {
        return {};
    }
    {
        QPdfWriter writer(&buffer);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("Module test %1: %2")
                            .arg(qs(report.facts.serialNumber),
                                 qs(outcomeText(report.outcome) + noticeSuffix(report.facts))));
        writer.setCreator(QStringLiteral("Vitalon %1").arg(qs(report.facts.vitalonVersion)));

        QTextDocument document;
        document.documentLayout()->setPaintDevice(&writer);
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPointSizeF(9.5);
        document.setDefaultFont(font);
        for (const auto& [name, image] : pictures(report)) {
            document.addResource(QTextDocument::ImageResource,
                                 QUrl(QStringLiteral("report-picture:") + name), image);
        }
        document.setHtml(markup(
            report, [](const QString& name) { return QStringLiteral("report-picture:") + name; },
            {}));
        paginate(document, writer, report);
    }
    buffer.close();
    return pdf;
}

}  // namespace vitalon::report
