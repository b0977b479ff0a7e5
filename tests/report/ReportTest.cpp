#include <gtest/gtest.h>

#include <sys/resource.h>

#include <string_view>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include "EarlierReports.h"
#include "LikelyFaults.h"
#include "ModelBench.h"
#include "ReportDocuments.h"
#include "ReportWriter.h"
#include "SpaceNeed.h"
#include "TestReport.h"

namespace vitalon::report {
namespace {

using analysis::testing::ModelBench;

RunFacts facts(std::string serial = "SN1234", std::string operatorName = "Jane Doe") {
    RunFacts facts;
    facts.serialNumber = std::move(serial);
    facts.operatorName = std::move(operatorName);
    facts.station = "bench-7";
    facts.startedAt = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7} +
                      std::chrono::hours{15} + std::chrono::minutes{30};
    facts.vitalonVersion = "1.4.0";
    facts.limitsPath = "/etc/vitalon/limits.json";
    facts.recordingFile = "SN1234-20261207-153000.edf";
    return facts;
}

TestReport runModel(const RunFacts& runFacts, const char* defect = nullptr) {
    sim::Scenario scenario;
    if (defect) {
        scenario.defects.add(*sim::moduleDefectNamed(defect));
    }
    ModelBench bench(scenario);
    bench.run();
    return collectReport(bench.runner, runFacts);
}

QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << program.toStdString()
                      << " did not run: " << process.errorString().toStdString();
        return {};
    }
    if (exitCode) {
        *exitCode = process.exitCode();
    }
    return QString::fromUtf8(process.readAll());
}

// The PDF's text with every run of white space as one space, so that lines
// wrapped in a table cell still read as they were written.
QString pdfText(const QString& path) {
    int exitCode = -1;
    const QString text = run(QStringLiteral("pdftotext"), {path, QStringLiteral("-")}, &exitCode);
    EXPECT_EQ(exitCode, 0) << text.toStdString();
    return text.simplified();
}

void expectValidJson(const QString& path) {
    int exitCode = -1;
    const QString errors =
        run(QStringLiteral(VITALON_PYTHON3),
            {QStringLiteral(VITALON_REPORT_VALIDATOR), QStringLiteral(VITALON_REPORT_SCHEMA), path},
            &exitCode);
    EXPECT_EQ(exitCode, 0) << errors.toStdString();
}

QJsonObject readJson(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString readText(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

// VITALON_KEEP_REPORTS=1 keeps the written reports to look at, e.g. for the
// picture in docs/.
ReportWriteResult writeInto(QTemporaryDir& dir, const TestReport& report) {
    if (qEnvironmentVariableIsSet("VITALON_KEEP_REPORTS")) {
        dir.setAutoRemove(false);
        std::printf("reports kept in %s\n", qPrintable(dir.path()));
    }
    const ReportWriteResult result = writeReport(report, dir.path());
    EXPECT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_TRUE(result.error.isEmpty());
    EXPECT_EQ(result.written.size(), 3);
    return result;
}

TEST(ModuleTestReport, HealthyModuleGivesPassInEveryFile) {
    const TestReport report = runModel(facts());
    ASSERT_EQ(report.outcome, analysis::TestOutcome::Passed);
    QTemporaryDir dir;
    const ReportWriteResult result = writeInto(dir, report);

    for (const QString& path : {result.paths.pdf, result.paths.html, result.paths.json}) {
        EXPECT_TRUE(QFileInfo(path).fileName().startsWith(QStringLiteral("SN1234-2026120")))
            << path.toStdString();
        EXPECT_GT(QFileInfo(path).size(), 1000) << path.toStdString();
    }

    const QString pdf = pdfText(result.paths.pdf);
    for (const char* expected :
         {"SN1234", "Jane Doe", "bench-7", "1.4.0", "/etc/vitalon/limits.json",
          "SN1234-20261207-153000.edf", "PASS", "5 Mains filter", "sample rate at S2",
          "Calibration pulses", "Averaged beats"}) {
        EXPECT_TRUE(pdf.contains(QString::fromUtf8(expected))) << expected;
    }
    EXPECT_FALSE(pdf.contains(QStringLiteral("FAIL")));

    expectValidJson(result.paths.json);
    const QJsonObject json = readJson(result.paths.json);
    EXPECT_EQ(json["outcome"].toString(), "pass");
    EXPECT_EQ(json["version"].toInt(), kReportFormatVersion);
    EXPECT_EQ(json["steps"].toArray().size(), 8);
    EXPECT_TRUE(json["failedSteps"].toArray().isEmpty());
    EXPECT_EQ(json["pictures"]["calibration"].toArray().size(), 3);
    EXPECT_EQ(json["pictures"]["averagedBeats"].toArray().size(), 3);
    const QJsonObject firstCheck = json["steps"][1]["checks"][0].toObject();
    EXPECT_NEAR(firstCheck["measured"].toDouble(), 100.0, 1.0);
    EXPECT_EQ(firstCheck["limit"]["min"].toDouble(), 99.0);
    EXPECT_EQ(firstCheck["limit"]["max"].toDouble(), 101.0);

    // One self-contained page: the six pictures inline, nothing fetched.
    const QString html = readText(result.paths.html);
    EXPECT_EQ(html.count(QStringLiteral("src=\"data:image/png;base64,")), 6);
    EXPECT_EQ(html.count(QStringLiteral("src=\"")), 6);
    EXPECT_FALSE(html.contains(QStringLiteral("href=")));
}

TEST(ModuleTestReport, DefectiveModuleReportNamesTheFailedStepWithValueAndLimit) {
    struct Case {
        const char* defect;
        const char* reason;  // of the failed check, as the PDF shows it
        std::optional<double> measured;
    };
    for (const Case c :
         {Case{"amplification-2-as-1", "calibration height at A2: 40.0 counts, limit 72.0 to 88.0",
               40.0},
          Case{"no-calibration", "calibration pulse at A0: no rectangle found, limit 18.0 to 22.0",
               std::nullopt}}) {
        SCOPED_TRACE(c.defect);
        const TestReport report = runModel(facts(), c.defect);
        ASSERT_EQ(report.outcome, analysis::TestOutcome::Failed);
        QTemporaryDir dir;
        const ReportWriteResult result = writeInto(dir, report);

        const QString pdf = pdfText(result.paths.pdf);
        EXPECT_TRUE(pdf.contains(QStringLiteral("FAIL")));
        EXPECT_TRUE(pdf.contains(QStringLiteral("Failed steps: 3 Calibration pulse:")))
            << pdf.toStdString();
        EXPECT_TRUE(pdf.contains(QString::fromUtf8(c.reason))) << pdf.toStdString();
        EXPECT_FALSE(pdf.contains(QStringLiteral("PASS PASS PASS PASS")));

        expectValidJson(result.paths.json);
        const QJsonObject json = readJson(result.paths.json);
        EXPECT_EQ(json["outcome"].toString(), "fail");
        // A module without a calibration pulse has none after restoring
        // either: the restore's measured check fails too.
        ASSERT_EQ(json["failedSteps"].toArray().size(),
                  std::string_view(c.defect) == "no-calibration" ? 2 : 1);
        EXPECT_EQ(json["failedSteps"][0]["number"].toInt(), 3);
        EXPECT_EQ(json["failedSteps"][0]["title"].toString(), "Calibration pulse");
        EXPECT_EQ(json["steps"][2]["verdict"].toString(), "fail");
        std::optional<QJsonObject> failedCheck;
        for (const QJsonValue check : json["steps"][2]["checks"].toArray()) {
            if (!check["passed"].toBool() && !failedCheck) {
                failedCheck = check.toObject();
            }
        }
        ASSERT_TRUE(failedCheck);
        EXPECT_TRUE(QString::fromUtf8(c.reason).startsWith((*failedCheck)["reason"].toString()) ||
                    (*failedCheck)["reason"].toString().startsWith(QString::fromUtf8(c.reason)))
            << (*failedCheck)["reason"].toString().toStdString();
        if (c.measured) {
            EXPECT_EQ((*failedCheck)["measured"].toDouble(), *c.measured);
        } else {
            EXPECT_TRUE((*failedCheck)["measured"].isNull());
        }
    }
}

// Without a module the steps end without checks or pictures; the report
// still says what happened.
TEST(ModuleTestReport, RunWithoutAModuleStillGivesAValidReport) {
    ModelBench bench;
    bench.channel.failWrites = true;
    bench.run();
    RunFacts runFacts = facts();
    runFacts.limitsPath.clear();
    runFacts.recordingFile.clear();
    const TestReport report = collectReport(bench.runner, runFacts);
    QTemporaryDir dir;
    const ReportWriteResult result = writeInto(dir, report);

    const QString pdf = pdfText(result.paths.pdf);
    EXPECT_TRUE(pdf.contains(QStringLiteral("INCOMPLETE")));
    EXPECT_TRUE(pdf.contains(QStringLiteral("command \"S1\" could not be written")));
    EXPECT_TRUE(pdf.contains(QStringLiteral("built-in limits")));
    expectValidJson(result.paths.json);
    const QJsonObject json = readJson(result.paths.json);
    EXPECT_EQ(json["outcome"].toString(), "incomplete");
    EXPECT_EQ(json["incompleteBecause"].toString(), "no-module");
    EXPECT_TRUE(json["limits"]["file"].isNull());
    EXPECT_TRUE(json["recording"].isNull());
    EXPECT_EQ(json["steps"][3]["verdict"].toString(), "skipped");
    EXPECT_TRUE(json["steps"][3]["startSeconds"].isNull());
}

// Every check with its identifier and marginal flag, and the limits by name,
// revision and SHA-256, in the JSON, the HTML and the PDF.
TEST(ModuleTestReport, ChecksCarryIdentifiersAndTheLimitsTheirIdentity) {
    analysis::TestLimits limits;
    limits.name = "TR71000 bench 7";
    limits.revision = "2026-12-08.3";
    limits.sha256 = std::string(64, 'a');
    limits.calibration.heightCounts[1] = {39.5, 48.0};  // the model's 40 counts: marginal
    ModelBench bench({}, limits);
    bench.run();
    const TestReport report = collectReport(bench.runner, facts());
    ASSERT_EQ(report.outcome, analysis::TestOutcome::Passed);
    QTemporaryDir dir;
    const ReportWriteResult result = writeInto(dir, report);

    expectValidJson(result.paths.json);
    const QJsonObject json = readJson(result.paths.json);
    EXPECT_EQ(json["limits"]["name"].toString(), "TR71000 bench 7");
    EXPECT_EQ(json["limits"]["revision"].toString(), "2026-12-08.3");
    EXPECT_EQ(json["limits"]["sha256"].toString(), QString(64, QLatin1Char('a')));
    EXPECT_EQ(json["limits"]["formatVersion"].toInt(), analysis::TestLimits::kFormatVersion);
    EXPECT_TRUE(json["incompleteBecause"].isNull());
    QStringList marginal;
    int checks = 0;
    for (const QJsonValue step : json["steps"].toArray()) {
        for (const QJsonValue check : step["checks"].toArray()) {
            ++checks;
            EXPECT_FALSE(check["id"].toString().isEmpty())
                << check["name"].toString().toStdString();
            EXPECT_EQ(check["verdict"].toString(), "pass");
            if (check["marginal"].toBool()) {
                marginal << check["id"].toString();
            }
        }
    }
    EXPECT_GT(checks, 30);
    EXPECT_TRUE(marginal.contains(QStringLiteral("cal.a1.height")))
        << marginal.join(' ').toStdString();

    const QString html = readText(result.paths.html);
    const QString pdf = pdfText(result.paths.pdf);
    for (const QString& text : {html, pdf}) {
        for (const char* expected :
             {"rate.s1", "cal.a2.height", "pulse.reports", "restore.samples", "PASS (marginal)",
              "TR71000 bench 7", "2026-12-08.3", "aaaaaaaaaaaaaaaa"}) {
            EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
        }
        EXPECT_FALSE(text.contains(QStringLiteral("Limits version")));
    }
}

// A bench without mains hum cannot judge the filters: INCOMPLETE in every
// file, never PASS or FAIL as the outcome.
TEST(ModuleTestReport, AnIncompleteRunSaysSoInEveryFile) {
    sim::Scenario shielded;
    shielded.humMillivolts = 0.0;
    ModelBench bench(shielded);
    bench.run();
    const TestReport report = collectReport(bench.runner, facts());
    ASSERT_EQ(report.outcome, analysis::TestOutcome::Incomplete);
    QTemporaryDir dir;
    const ReportWriteResult result = writeInto(dir, report);

    expectValidJson(result.paths.json);
    const QJsonObject json = readJson(result.paths.json);
    EXPECT_EQ(json["outcome"].toString(), "incomplete");
    EXPECT_EQ(json["incompleteBecause"].toString(), "not-judged");
    EXPECT_EQ(json["steps"][4]["verdict"].toString(), "incomplete");
    EXPECT_EQ(json["steps"][4]["checks"][0]["id"].toString(), "mains.hum");
    EXPECT_EQ(json["steps"][4]["checks"][0]["verdict"].toString(), "not-judged");
    EXPECT_TRUE(json["failedSteps"].toArray().isEmpty());

    const QString pdf = pdfText(result.paths.pdf);
    EXPECT_TRUE(pdf.contains(QStringLiteral("INCOMPLETE"))) << pdf.toStdString();
    EXPECT_TRUE(pdf.contains(QStringLiteral("Steps not judged: 5 Mains filter:")));
    EXPECT_TRUE(pdf.contains(QStringLiteral("NOT JUDGED")));
    const QString html = readText(result.paths.html);
    EXPECT_TRUE(html.contains(QStringLiteral("<title>Module test SN1234: INCOMPLETE")));
    EXPECT_FALSE(html.contains(QStringLiteral(">PASS</p>")));
    EXPECT_FALSE(html.contains(QStringLiteral(">FAIL</p>")));
}

TEST(ModuleTestReport, HostileSerialAndOperatorAreEscapedAndStayInTheFolder) {
    const std::string serial = "../../<script>alert(\"x\")</script>";
    const std::string operatorName = "O'Brien & <b>Sons</b> <img src=x onerror=alert(1)>";
    const TestReport report = runModel(facts(serial, operatorName), "leads-swapped");
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("reports"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const ReportWriteResult result = writeReport(report, folder);
    ASSERT_TRUE(result.ok) << result.error.toStdString();

    for (const QString& path : result.written) {
        EXPECT_EQ(QFileInfo(path).absolutePath(), QFileInfo(folder).absoluteFilePath());
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("reports")});
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 3);

    const QString html = readText(result.paths.html);
    EXPECT_FALSE(html.contains(QStringLiteral("<script")));
    EXPECT_FALSE(html.contains(QStringLiteral("<b>Sons")));
    EXPECT_FALSE(html.contains(QStringLiteral("<img src=x")));
    EXPECT_TRUE(html.contains(QStringLiteral("&lt;script&gt;alert(&quot;x&quot;)")));
    EXPECT_TRUE(html.contains(QStringLiteral("O&#39;Brien &amp; &lt;b&gt;Sons&lt;/b&gt;")));

    // The PDF and the JSON show the text as it was typed.
    const QString pdf = pdfText(result.paths.pdf);
    EXPECT_TRUE(pdf.contains(QString::fromStdString(operatorName))) << pdf.toStdString();
    EXPECT_TRUE(pdf.contains(QStringLiteral("Failed steps: 4 Leads:")));
    expectValidJson(result.paths.json);
    const QJsonObject json = readJson(result.paths.json);
    EXPECT_EQ(json["serialNumber"].toString().toStdString(), serial);
    EXPECT_EQ(json["operator"].toString().toStdString(), operatorName);
}

TEST(ModuleTestReport, FileNamesComeFromSerialAndTimeAndNeverOverwrite) {
    EXPECT_EQ(fileNameSafeSerial("SN1234"), "SN1234");
    EXPECT_EQ(fileNameSafeSerial("TR-71000_A.3"), "TR-71000_A.3");
    EXPECT_EQ(fileNameSafeSerial("../etc/passwd"), "_._etc_passwd");
    EXPECT_EQ(fileNameSafeSerial(".hidden"), "_hidden");
    EXPECT_EQ(fileNameSafeSerial("-rf"), "_rf");
    EXPECT_EQ(fileNameSafeSerial("a b\\c:d*?\n"), "a_b_c_d___");
    EXPECT_EQ(fileNameSafeSerial("Zähler"), "Z__hler");  // two UTF-8 bytes
    EXPECT_EQ(fileNameSafeSerial(""), "unnamed");
    EXPECT_EQ(fileNameSafeSerial(std::string(300, 'x')).size(), 64u);

    QTemporaryDir dir;
    const QDateTime time(QDate(2026, 12, 7), QTime(15, 30, 0));
    const ReportPaths first = pickReportPaths(dir.path(), "SN1234", time);
    EXPECT_EQ(first.baseName, "SN1234-20261207-153000");
    EXPECT_EQ(first.pdf, dir.filePath(QStringLiteral("SN1234-20261207-153000.pdf")));
    EXPECT_EQ(first.html, dir.filePath(QStringLiteral("SN1234-20261207-153000.html")));
    EXPECT_EQ(first.json, dir.filePath(QStringLiteral("SN1234-20261207-153000.json")));

    // Two runs of one module in one second: the second report gets its own names.
    QFile existing(first.json);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    EXPECT_EQ(pickReportPaths(dir.path(), "SN1234", time).baseName, "SN1234-20261207-153000-2");
}

TEST(ModuleTestReport, AFolderThatCannotTakeTheReportGivesAnErrorText) {
    ModelBench bench;
    bench.channel.failWrites = true;
    bench.run();
    const TestReport report = collectReport(bench.runner, facts());
    QTemporaryDir dir;
    EXPECT_EQ(reportFolderProblem(dir.path()), QString());
    EXPECT_TRUE(QDir(dir.path()).isEmpty()) << "the probe file is removed";

    const QString missing = dir.filePath(QStringLiteral("no-such-folder"));
    ReportWriteResult result = writeReport(report, missing);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, QStringLiteral("The report folder %1 does not exist.").arg(missing));
    EXPECT_TRUE(result.written.isEmpty());

    const QString file = dir.filePath(QStringLiteral("a-file"));
    QFile plain(file);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    result = writeReport(report, file);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.contains(QStringLiteral("is not a folder")))
        << result.error.toStdString();

    EXPECT_FALSE(writeReport(report, QString()).ok);

    // A folder that refuses new files even to root: found before a run, too.
    EXPECT_TRUE(
        reportFolderProblem(QStringLiteral("/proc/self"))
            .startsWith(QStringLiteral("Cannot write into the report folder /proc/self: ")));
    result = writeReport(report, QStringLiteral("/proc/self"));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.startsWith(QStringLiteral("Cannot write into the report folder")))
        << result.error.toStdString();
    EXPECT_TRUE(result.written.isEmpty());
}

// A run on the simulated module or the built-in limits says so on every page
// of the PDF (a page printed alone too), at the top of the HTML page and in
// the JSON file.
TEST(ModuleTestReport, NoticesStandOnEveryPageAndInTheJson) {
    RunFacts runFacts = facts();
    runFacts.notices = {"simulated module, not a module result",
                        "demonstration limits, not a production result"};
    const TestReport report = runModel(runFacts);
    QTemporaryDir dir;
    const ReportWriteResult result = writeInto(dir, report);

    int exitCode = -1;
    const QStringList pages =
        run(QStringLiteral("pdftotext"), {result.paths.pdf, QStringLiteral("-")}, &exitCode)
            .split(QChar('\f'), Qt::SkipEmptyParts);
    ASSERT_EQ(exitCode, 0);
    ASSERT_GE(pages.size(), 2);
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (pages[i].trimmed().isEmpty()) {
            continue;  // pdftotext ends with a form feed
        }
        const QString page = pages[i].simplified();
        EXPECT_TRUE(page.contains(QStringLiteral("simulated module, not a module result")))
            << "page " << i + 1;
        EXPECT_TRUE(page.contains(QStringLiteral("demonstration limits, not a production result")))
            << "page " << i + 1;
        EXPECT_TRUE(page.contains(QStringLiteral("page %1 of").arg(i + 1))) << "page " << i + 1;
    }
    const QString html = readText(result.paths.html);
    EXPECT_TRUE(html.contains(
        QStringLiteral("<title>Module test SN1234: PASS (simulated module, not a module result; "
                       "demonstration limits, not a production result)</title>")));
    EXPECT_LT(html.indexOf(QStringLiteral("simulated module, not a module result")),
              html.indexOf(QStringLiteral("Serial number")))
        << "the notice comes before the facts";
    expectValidJson(result.paths.json);
    const QJsonObject json = readJson(result.paths.json);
    EXPECT_EQ(json["notices"].toArray(),
              (QJsonArray{QStringLiteral("simulated module, not a module result"),
                          QStringLiteral("demonstration limits, not a production result")}));

    // A production run has none.
    const ReportWriteResult production = writeInto(dir, runModel(facts()));
    EXPECT_TRUE(readJson(production.paths.json)["notices"].toArray().isEmpty());
    const QString productionPdf = pdfText(production.paths.pdf);
    EXPECT_FALSE(productionPdf.contains(QStringLiteral("not a module result")));
    EXPECT_FALSE(productionPdf.contains(QStringLiteral("not a production result")));
    expectValidJson(production.paths.json);
}

// The soft file-size limit of this process, lowered for one scope; a write
// beyond it fails with EFBIG ("File too large") as on a full disk, since
// SIGXFSZ is ignored meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

// Disk full while writing: no file of the report is left (not a JSON saying
// "pass" without its PDF), and the error names the file and the system's
// reason rather than "Unknown error".
TEST(ModuleTestReport, AFailedWriteLeavesNoReportFileAndSaysWhy) {
    const TestReport report = runModel(facts());
    ASSERT_EQ(report.outcome, analysis::TestOutcome::Passed);
    const qsizetype json = reportJson(report).size();
    const qsizetype html = reportHtml(report).toUtf8().size();
    const qsizetype pdf = reportPdf(report).size();
    const qsizetype largest = std::max({json, html, pdf});
    const qsizetype smallest = std::min({json, html, pdf});
    ASSERT_LT(smallest, largest);

    // The smaller files fit, the largest does not; then none fits.
    for (const rlim_t limit : {rlim_t(largest - 1), rlim_t(smallest / 2)}) {
        SCOPED_TRACE(limit);
        QTemporaryDir dir;
        ReportWriteResult result;
        {
            const FileSizeLimit lowered(limit);
            result = writeReport(report, dir.path());
        }
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.written.isEmpty());
        EXPECT_TRUE(
            result.error.startsWith(QStringLiteral("Cannot write the report file ") + dir.path()))
            << result.error.toStdString();
        EXPECT_TRUE(result.error.endsWith(QString::fromLocal8Bit(std::strerror(EFBIG))))
            << result.error.toStdString();
        EXPECT_EQ(
            QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
            QStringList())
            << "neither a report file nor a temporary one is left";
    }
}

// Written under temporary names, the report files still get the permissions
// of any new file (not the owner-only ones of a temporary file), so that a
// shared report folder stays readable.
TEST(ModuleTestReport, ReportFilesAreAsReadableAsAnyNewFileAndNoTemporaryIsLeft) {
    QTemporaryDir dir;
    const ReportWriteResult result = writeInto(dir, runModel(facts()));
    QFile plain(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    for (const QString& path : result.written) {
        EXPECT_EQ(QFile::permissions(path), plain.permissions()) << path.toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);
}

TEST(ModuleTestReport, SpaceForARunIsCheckedWithTheFigures) {
    const analysis::TestLimits limits;
    const SpaceNeed need = estimateSpaceNeed(limits);
    // The default run takes about two and a half minutes: the estimate covers
    // that at 300 samples a second, and the report files as this test renders them.
    EXPECT_GT(need.seconds, 150.0);
    EXPECT_GT(need.recordingBytes, std::uint64_t(150 * (600 + 684)));
    const TestReport report = runModel(facts());
    EXPECT_GT(need.reportBytes,
              std::uint64_t(reportJson(report).size() + reportHtml(report).toUtf8().size() +
                            reportPdf(report).size()));
    analysis::TestLimits withPrompt = limits;
    withPrompt.reports.leadOffCheck = true;
    EXPECT_GT(estimateSpaceNeed(withPrompt).seconds, need.seconds + 2 * 120.0);

    EXPECT_EQ(spaceProblem(need, "/r", need.totalBytes(), need.largestFileBytes), "");
    EXPECT_EQ(spaceProblem(need, "/r", std::nullopt, std::nullopt), "");
    const std::string full = spaceProblem(need, "/r", 1'500'000, std::nullopt);
    EXPECT_TRUE(full.starts_with("Not enough free space in /r: the run needs about ")) << full;
    EXPECT_NE(full.find("1.5 MB are free"), std::string::npos) << full;
    EXPECT_NE(full.find("of recording for up to"), std::string::npos) << full;
    const std::string limited = spaceProblem(need, "/r", std::nullopt, 100000);
    EXPECT_TRUE(
        limited.starts_with("The file-size limit of this process (ulimit -f) is 100000 "
                            "bytes"))
        << limited;
}

// What a quality department files with a report: when (start and end, with
// the zone), where (station, computer, port, adapter), with which build, the
// how-many-th attempt, and every recorded file with its hash, in each file.
TEST(ModuleTestReport, TraceabilityFactsStandInEveryFile) {
    RunFacts runFacts = facts();
    runFacts.hostName = "lab-pc-12";
    runFacts.timeZone = "Europe/Berlin";  // 15:30 UTC is 16:30 there in December
    runFacts.endedAt = runFacts.startedAt + std::chrono::seconds{154};
    runFacts.buildCommit = "0123456789abcdef0123456789abcdef01234567";
    runFacts.attempt = 3;
    runFacts.port = {"COM3", "/dev/ttyUSB0", true,   0x0403,
                     0x6001, "A5XK3RJT",     "FTDI", "FT232R USB UART"};
    const std::string hashA(64, 'a');
    const std::string hashB = "0f" + std::string(62, '1');
    runFacts.recordings = {{"SN1234-20261207-153000.edf", hashA},
                           {"SN1234-20261207-153000-2.edf", hashB},
                           {"SN1234-20261207-153000-3.edf", ""}};
    const TestReport report = runModel(runFacts);
    QTemporaryDir dir;
    const ReportWriteResult result = writeInto(dir, report);

    const QString pdf = pdfText(result.paths.pdf);
    const QString html = readText(result.paths.html);
    for (const char* expected :
         {"Station bench-7", "Computer lab-pc-12", "Started 2026-12-07 16:30:00",
          "(UTC+01:00, Europe/Berlin)", "Ended 2026-12-07 16:32:34", "Port COM3 (/dev/ttyUSB0)",
          "USB 0403:6001, serial number A5XK3RJT, FTDI FT232R USB UART",
          "1.4.0, build 0123456789abcdef0123456789abcdef01234567", "Attempt 3",
          "SN1234-20261207-153000-2.edf", "not known (the file could not be read)"}) {
        EXPECT_TRUE(pdf.contains(QString::fromUtf8(expected))) << expected;
        EXPECT_TRUE(QString(html)
                        .replace(QRegularExpression(QStringLiteral("<[^>]*>")), QStringLiteral(" "))
                        .simplified()
                        .contains(QString::fromUtf8(expected)))
            << expected;
    }
    EXPECT_TRUE(pdf.contains(QString::fromStdString(hashB)));

    expectValidJson(result.paths.json);
    const QJsonObject json = readJson(result.paths.json);
    EXPECT_EQ(json["station"].toString(), "bench-7");
    EXPECT_EQ(json["hostName"].toString(), "lab-pc-12");
    EXPECT_EQ(json["startedAt"].toString(), "2026-12-07T16:30:00+01:00");
    EXPECT_EQ(json["endedAt"].toString(), "2026-12-07T16:32:34+01:00");
    EXPECT_EQ(json["timeZone"].toString(), "Europe/Berlin");
    EXPECT_EQ(json["buildCommit"].toString(), QString::fromStdString(runFacts.buildCommit));
    EXPECT_EQ(json["attempt"].toInt(), 3);
    const QJsonObject port = json["port"].toObject();
    EXPECT_EQ(port["name"].toString(), "COM3");
    EXPECT_EQ(port["device"].toString(), "/dev/ttyUSB0");
    EXPECT_TRUE(port["usb"].toBool());
    EXPECT_EQ(port["vendorId"].toString(), "0403");
    EXPECT_EQ(port["productId"].toString(), "6001");
    EXPECT_EQ(port["serialNumber"].toString(), "A5XK3RJT");
    const QJsonArray recordings = json["recordings"].toArray();
    ASSERT_EQ(recordings.size(), 3);
    EXPECT_EQ(recordings[1]["file"].toString(), "SN1234-20261207-153000-2.edf");
    EXPECT_EQ(recordings[1]["sha256"].toString(), QString::fromStdString(hashB));
    EXPECT_TRUE(recordings[2]["sha256"].isNull());

    // Not known: no end, no USB, no zone, no commit; still a valid report.
    RunFacts sparse = facts();
    sparse.port = {"COM1", "/dev/ttyS0", false, 0, 0, "", "", ""};
    const ReportWriteResult plain = writeInto(dir, runModel(sparse));
    expectValidJson(plain.paths.json);
    const QJsonObject plainJson = readJson(plain.paths.json);
    EXPECT_TRUE(plainJson["endedAt"].isNull());
    EXPECT_TRUE(plainJson["port"]["vendorId"].isNull());
    EXPECT_EQ(plainJson["buildCommit"].toString(), "unknown");
    EXPECT_EQ(plainJson["attempt"].toInt(), 1);
    const QString plainPdf = pdfText(plain.paths.pdf);
    EXPECT_TRUE(plainPdf.contains(QStringLiteral("not a USB adapter")));
    EXPECT_TRUE(plainPdf.contains(QStringLiteral("build unknown")));
}

// Pages filed or faxed one by one still say whose result they carry: every
// PDF page names the serial number and the outcome and counts itself, and a
// printed HTML page does the same from its page margins.
TEST(ModuleTestReport, EveryPageNamesTheModuleAndTheOutcome) {
    const TestReport report = runModel(facts(), "amplification-2-as-1");
    ASSERT_EQ(report.outcome, analysis::TestOutcome::Failed);
    QTemporaryDir dir;
    const ReportWriteResult result = writeInto(dir, report);
    int exitCode = -1;
    const QStringList pages =
        run(QStringLiteral("pdftotext"), {result.paths.pdf, QStringLiteral("-")}, &exitCode)
            .split(QChar('\f'), Qt::SkipEmptyParts);
    ASSERT_EQ(exitCode, 0);
    ASSERT_GE(pages.size(), 2);
    int counted = 0;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const QString page = pages[i].simplified();
        if (page.isEmpty()) {
            continue;
        }
        ++counted;
        EXPECT_TRUE(page.contains(QStringLiteral("Module test SN1234: FAIL"))) << "page " << i + 1;
        EXPECT_TRUE(page.contains(QStringLiteral("page %1 of").arg(i + 1))) << "page " << i + 1;
    }
    EXPECT_GE(counted, 2);

    const QString html = readText(result.paths.html);
    EXPECT_TRUE(html.contains(QStringLiteral("@top-left { content: \"Module test SN1234: FAIL\"")))
        << html.left(3000).toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral(
        "@bottom-right { content: \"page \" counter(page) \" of \" counter(pages)")));

    // The sign-off block: who tested, and lines for the date and the signature.
    for (const QString& text :
         {pdfText(result.paths.pdf),
          QString(html)
              .replace(QRegularExpression(QStringLiteral("<[^>]*>")), QStringLiteral(" "))
              .simplified()}) {
        const qsizetype signOff = text.lastIndexOf(QStringLiteral("Sign-off"));
        ASSERT_GE(signOff, 0);
        const QString block = text.mid(signOff);
        EXPECT_TRUE(block.contains(QStringLiteral("Operator Jane Doe"))) << block.toStdString();
        EXPECT_TRUE(block.contains(QStringLiteral("Date ____"))) << block.toStdString();
        EXPECT_TRUE(block.contains(QStringLiteral("Signature ____"))) << block.toStdString();
    }
}

// A serial number in the page margins' CSS can neither end the style element
// nor the string it stands in.
TEST(ModuleTestReport, HostileSerialCannotLeaveThePrintStyle) {
    const TestReport report = runModel(facts("SN\"}</style><script>x()</script>\\"));
    QTemporaryDir dir;
    const ReportWriteResult result = writeInto(dir, report);
    const QString html = readText(result.paths.html);
    EXPECT_EQ(html.count(QStringLiteral("</style>")), 1);
    EXPECT_FALSE(html.contains(QStringLiteral("<script")));
    const qsizetype top = html.indexOf(QStringLiteral("@top-left { content: \""));
    ASSERT_GE(top, 0);
    const QString css = html.mid(top, html.indexOf(QChar(';'), top) - top);
    EXPECT_EQ(css.count(QChar('"')), 2) << css.toStdString();
    EXPECT_TRUE(css.contains(QStringLiteral("SN\\22 \\7d \\3c \\2f style\\3e ")))
        << css.toStdString();
}

// Each failed check says which fault it most likely means, in every file;
// a check that passed says nothing of the kind.
TEST(ModuleTestReport, FailedChecksNameTheirLikelyFault) {
    for (const char* defect :
         {"leads-swapped", "amplification-2-as-1", "mains-filter-off", "pulse-15-high"}) {
        SCOPED_TRACE(defect);
        const TestReport report = runModel(facts(), defect);
        ASSERT_EQ(report.outcome, analysis::TestOutcome::Failed);
        QTemporaryDir dir;
        const ReportWriteResult result = writeInto(dir, report);
        expectValidJson(result.paths.json);
        const QJsonObject json = readJson(result.paths.json);
        int failed = 0;
        for (const QJsonValue step : json["steps"].toArray()) {
            for (const QJsonValue check : step["checks"].toArray()) {
                if (check["verdict"].toString() == "fail") {
                    ++failed;
                    EXPECT_FALSE(check["likelyFault"].toString().isEmpty())
                        << check["id"].toString().toStdString();
                } else {
                    EXPECT_TRUE(check["likelyFault"].isNull())
                        << check["id"].toString().toStdString();
                }
            }
        }
        EXPECT_GT(failed, 0);
        EXPECT_TRUE(pdfText(result.paths.pdf).contains(QStringLiteral("Likely fault")));
        EXPECT_TRUE(readText(result.paths.html).contains(QStringLiteral("Likely fault")));
    }
    const TestReport swapped = runModel(facts(), "leads-swapped");
    QTemporaryDir dir;
    EXPECT_TRUE(pdfText(writeInto(dir, swapped).paths.pdf)
                    .contains(QStringLiteral("leads I and III swapped")));
}

TEST(LikelyFault, IsLookedUpByIdentifierWordByWord) {
    EXPECT_NE(likelyFault("leads.i.ratio").find("leads I and III swapped"), std::string_view::npos);
    EXPECT_NE(likelyFault("cal.a2.height").find("gain"), std::string_view::npos);
    EXPECT_NE(likelyFault("rate.s0").find("clock"), std::string_view::npos);
    // The link errors of any step point at the cable, not at what the step measures.
    EXPECT_EQ(likelyFault("cal.link-errors"), likelyFault("leads.link-errors"));
    EXPECT_NE(likelyFault("cal.link-errors").find("cable"), std::string_view::npos);
    // A pattern fits only identifiers of as many words.
    EXPECT_TRUE(likelyFault("rate").empty());
    EXPECT_TRUE(likelyFault("cal.a2").empty());
    EXPECT_TRUE(likelyFault("rate.s1.extra").empty());
    EXPECT_TRUE(likelyFault("").empty());
    EXPECT_TRUE(likelyFault("no.such.check").empty());
}

// Every check identifier the report's documentation lists has its likely
// fault, so that a new check cannot fail without saying what it means.
TEST(LikelyFault, EveryDocumentedCheckHasOne) {
    QFile doc(QFileInfo(QStringLiteral(VITALON_REPORT_SCHEMA))
                  .dir()
                  .filePath(QStringLiteral("module-test-report.md")));
    ASSERT_TRUE(doc.open(QIODevice::ReadOnly)) << doc.fileName().toStdString();
    const QString text = QString::fromUtf8(doc.readAll());
    const qsizetype begin = text.indexOf(QStringLiteral("## Check identifiers"));
    ASSERT_GE(begin, 0);
    const qsizetype end = text.indexOf(QStringLiteral("\n## "), begin + 1);
    int identifiers = 0;
    for (const QString& line : text.mid(begin, end - begin).split(QChar('\n'))) {
        const QStringList cells = line.split(QChar('|'));
        if (!line.startsWith(QChar('|')) || cells.size() < 4) {
            continue;
        }
        const QRegularExpression code(QStringLiteral("`([^`]+)`"));
        for (auto match = code.globalMatch(cells[2]); match.hasNext();) {
            QString id = match.next().captured(1);
            ++identifiers;
            if (id.startsWith(QStringLiteral("STEP."))) {
                id.replace(0, 4, QStringLiteral("cal"));  // any step
            }
            EXPECT_FALSE(likelyFault(id.toStdString()).empty()) << id.toStdString();
        }
    }
    EXPECT_GT(identifiers, 30);
}

// Until a results store counts them, the attempt number comes from the
// reports already in the folder: the same serial number exactly, and only
// files that are reports of this program.
TEST(ModuleTestReport, AttemptCountsEarlierReportsOfTheSameSerialNumber) {
    QTemporaryDir dir;
    EXPECT_EQ(attemptFromReportFolder(dir.path(), "SN1"), 1);
    const TestReport first = runModel(facts("SN1"));
    writeInto(dir, first);
    writeInto(dir, first);  // a second run in the same second gets "-2"
    EXPECT_EQ(attemptFromReportFolder(dir.path(), "SN1"), 3);
    // Names alike: "SN1-B" files start with "SN1-"; "SN 1" and "SN_1" share "SN_1".
    writeInto(dir, runModel(facts("SN1-B")));
    writeInto(dir, runModel(facts("SN 1")));
    EXPECT_EQ(attemptFromReportFolder(dir.path(), "SN1"), 3);
    EXPECT_EQ(attemptFromReportFolder(dir.path(), "SN1-B"), 2);
    EXPECT_EQ(attemptFromReportFolder(dir.path(), "SN 1"), 2);
    EXPECT_EQ(attemptFromReportFolder(dir.path(), "SN_1"), 1);
    // Files named like reports that are none are not counted.
    const auto put = [&](const QString& name, const QByteArray& content) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    put(QStringLiteral("SN1-cut.json"), "{\"format\": \"vitalon-module-test-report\", \"seri");
    put(QStringLiteral("SN1-other.json"), "{\"format\": \"other\", \"serialNumber\": \"SN1\"}");
    put(QStringLiteral("SN1-list.json"), "[1, 2, 3]");
    EXPECT_EQ(attemptFromReportFolder(dir.path(), "SN1"), 3);
    EXPECT_EQ(attemptFromReportFolder(dir.filePath(QStringLiteral("missing")), "SN1"), 1);
}

}  // namespace
}  // namespace vitalon::report
