#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cmath>
#include <random>

#include "MemoryResultsStore.h"
#include "ResultsCsv.h"
#include "ResultsModel.h"
#include "ResultsWindow.h"

namespace vitalon {
namespace {

using results::CheckRecord;
using results::RunRecord;

QDateTime at(int day, int hour) {
    return QDateTime(QDate(2026, 11, day), QTime(hour, 0), QTimeZone(3600));
}

// A run of `serial` with one check "rate.s1" of `value` against 97..103.
RunRecord runOf(const char* uuid, const char* serial, QDateTime started, const char* station,
                const char* outcome, const char* op, double value) {
    RunRecord run;
    run.uuid = uuid;
    run.serialNumber = serial;
    run.startedAt = started;
    run.endedAt = started.addSecs(150);
    run.station = station;
    run.outcome = outcome;
    run.operatorName = op;
    run.limitsName = "production";
    run.limitsRevision = "2";
    run.limitsSha256 = "ab12";
    run.checks = {CheckRecord{"rate.s1", "sample rate at S1", value, "/s", 97.0, 103.0,
                              value >= 97.0 && value <= 103.0 ? "pass" : "fail", false},
                  CheckRecord{"cal.a1.height", "calibration height, A1", 40.0, "counts", 38.0, 42.0,
                              "pass", false}};
    return run;
}

class ResultsWindowTest : public ::testing::Test {
protected:
    ResultsWindowTest() {
        const RunRecord runs[] = {
            runOf("u1", "SN-1", at(2, 9), "line-a", "fail", "Ann", 104.0),
            runOf("u2", "SN-1", at(2, 10), "line-a", "pass", "Ann", 100.0),
            runOf("u3", "SN-2", at(3, 9), "line-b", "pass", "Bob", 99.5),
            runOf("u4", "SN-3", at(4, 9), "line-b", "incomplete", "Bob", 100.5),
            runOf("u5", "SN-4", at(5, 23), "line-a", "pass", "Ann", 100.2),
        };
        for (RunRecord run : runs) {
            run.attempt = run.uuid == "u2" ? 2 : 1;  // SN-1 passed at its second test
            store_.store(run);
        }
        window_.openUrl = [this](const QUrl& url) {
            opened_ << url;
            return true;
        };
    }

    template <typename T>
    T* child(const char* name) {
        T* found = window_.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QStringList serialsShown() {
        QStringList serials;
        const ResultsModel& model = window_.model();
        for (int row = 0; row < model.rowCount(); ++row) {
            serials << model.data(model.index(row, ResultsModel::SerialColumn)).toString();
        }
        return serials;
    }

    results::MemoryResultsStore store_;
    ResultsWindow window_{store_};
    QList<QUrl> opened_;
};

// Every filter field narrows the table as the store's filter does; the
// newest run comes first.
TEST_F(ResultsWindowTest, TheFilterFieldsSelectTheRunsShown) {
    ASSERT_TRUE(window_.applyFilter());
    EXPECT_EQ(serialsShown(), (QStringList{"SN-4", "SN-3", "SN-2", "SN-1", "SN-1"}));
    EXPECT_EQ(window_.message(), "5 runs");

    child<QLineEdit>("filterSerial")->setText(QStringLiteral(" SN-1 "));
    ASSERT_TRUE(window_.applyFilter());
    EXPECT_EQ(serialsShown(), (QStringList{"SN-1", "SN-1"}));
    EXPECT_EQ(window_.model().data(window_.model().index(0, ResultsModel::OutcomeColumn)), "PASS");
    child<QLineEdit>("filterSerial")->clear();

    child<QComboBox>("filterOutcome")->setCurrentText(QStringLiteral("PASS"));
    child<QLineEdit>("filterStation")->setText(QStringLiteral("line-a"));
    ASSERT_TRUE(window_.applyFilter());
    EXPECT_EQ(serialsShown(), (QStringList{"SN-4", "SN-1"}));
    child<QLineEdit>("filterOperator")->setText(QStringLiteral("Bob"));
    ASSERT_TRUE(window_.applyFilter());
    EXPECT_TRUE(serialsShown().isEmpty());
    EXPECT_EQ(window_.message(), "0 runs");

    // Whole days, both ends included: the 3rd to the 5th, the run at 23:00 on the 5th too.
    child<QLineEdit>("filterStation")->clear();
    child<QLineEdit>("filterOperator")->clear();
    child<QComboBox>("filterOutcome")->setCurrentIndex(0);
    child<QCheckBox>("filterSinceOn")->setChecked(true);
    child<QDateEdit>("filterSince")->setDate(QDate(2026, 11, 3));
    child<QCheckBox>("filterUntilOn")->setChecked(true);
    child<QDateEdit>("filterUntil")->setDate(QDate(2026, 11, 4));
    const results::RunFilter filter = window_.filterOfFields();
    EXPECT_EQ(filter.since, QDate(2026, 11, 3).startOfDay());
    EXPECT_EQ(filter.until, QDate(2026, 11, 5).startOfDay());
    ASSERT_TRUE(window_.applyFilter());
    EXPECT_EQ(serialsShown(), (QStringList{"SN-3", "SN-2"}));

    store_.failWith("the disk is gone");
    EXPECT_FALSE(window_.applyFilter());
    EXPECT_EQ(window_.model().rowCount(), 0);
    EXPECT_TRUE(window_.message().contains(QStringLiteral("the disk is gone")));
}

TEST_F(ResultsWindowTest, OpeningARunShowsItsChecksAndOpensItsReport) {
    const QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("SN-4.pdf"));
    QFile(pdf).open(QIODevice::WriteOnly);
    RunRecord withReport = runOf("u6", "SN-5", at(6, 8), "line-a", "fail", "Ann", 96.0);
    withReport.attachments = {{"json", dir.filePath(QStringLiteral("SN-5.json")).toStdString(), ""},
                              {"pdf", pdf.toStdString(), "ff"}};
    store_.store(withReport);
    RunRecord elsewhere = runOf("u7", "SN-6", at(7, 8), "line-c", "pass", "Cy", 100.0);
    elsewhere.attachments = {{"pdf", "/nowhere/SN-6.pdf", ""}};
    store_.store(elsewhere);
    ASSERT_TRUE(window_.applyFilter());

    window_.openRun(1);  // SN-5, the second newest
    auto* checks = child<QTableWidget>("checkTable");
    ASSERT_EQ(checks->rowCount(), 2);
    EXPECT_EQ(checks->item(0, 0)->text(), "rate.s1");
    EXPECT_EQ(checks->item(0, 2)->text(), "96 /s");
    EXPECT_EQ(checks->item(0, 3)->text(), "97");
    EXPECT_EQ(checks->item(0, 5)->text(), "fail");
    ASSERT_TRUE(window_.openReport());
    EXPECT_EQ(opened_, QList<QUrl>{QUrl::fromLocalFile(pdf)});

    window_.openRun(0);  // SN-6: its report stayed on another station
    EXPECT_FALSE(window_.openReport());
    EXPECT_TRUE(window_.message().contains(QStringLiteral("not on this computer")));
    EXPECT_TRUE(window_.message().contains(QStringLiteral("line-c")));
    window_.openRun(2);  // no files at all
    EXPECT_FALSE(window_.openReport());
    EXPECT_EQ(window_.message(), "This run has no PDF report.");
    EXPECT_EQ(opened_.size(), 1);
}

// The export has one line a check with its run's fields, quoted where the
// text needs it, and nothing is left behind when the store fails midway.
TEST_F(ResultsWindowTest, ExportWritesTheFilteredRunsAndTheirChecksAsCsv) {
    RunRecord odd = runOf("u8", "SN-\"8\", rev B", at(8, 8), "line-a", "pass", "Dee\nLine", 100.0);
    odd.checks.resize(1);
    store_.store(odd);
    child<QLineEdit>("filterStation")->setText(QStringLiteral("line-a"));
    ASSERT_TRUE(window_.applyFilter());
    ASSERT_EQ(window_.model().rowCount(), 4);
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("runs.csv"));
    ASSERT_TRUE(window_.exportCsv(path)) << window_.message().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString csv = QString::fromUtf8(file.readAll());
    const QStringList lines = csv.split(QStringLiteral("\r\n"));
    // Header, 3 runs of 2 checks, 1 run of 1 check, and the empty tail.
    ASSERT_EQ(lines.size(), 1 + 3 * 2 + 1 + 1) << csv.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("run,serial_number,started,")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(",verdict,marginal")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("u1,SN-1,2026-11-02T09:00:00+01:00,")))
        << lines[1].toStdString();
    EXPECT_TRUE(
        lines[1].contains(QStringLiteral(",rate.s1,sample rate at S1,104,/s,97,103,fail,no")))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[7].startsWith(QStringLiteral("u8,\"SN-\"\"8\"\", rev B\",")))
        << lines[7].toStdString();
    EXPECT_TRUE(lines[7].contains(QStringLiteral(",\"Dee\nLine\",")));
    EXPECT_FALSE(csv.contains(QStringLiteral("SN-2")));

    store_.failWith("the server went away");
    const QString failed = dir.filePath(QStringLiteral("failed.csv"));
    EXPECT_FALSE(window_.exportCsv(failed));
    EXPECT_FALSE(QFile::exists(failed));
    EXPECT_TRUE(window_.message().contains(QStringLiteral("the server went away")));
}

// One check over the filtered runs: demonstration runs left out, each limits
// revision apart, first-pass yield from the runs shown.
TEST_F(ResultsWindowTest, StatisticsOfACheckKeepRevisionsApartAndLeaveDemonstrationsOut) {
    RunRecord demo = runOf("d1", "SN-9", at(6, 9), "line-a", "pass", "Ann", 150.0);
    demo.demonstration = true;
    store_.store(demo);
    RunRecord newer = runOf("r3", "SN-10", at(9, 9), "line-a", "pass", "Ann", 101.0);
    newer.limitsRevision = "3";
    newer.checks[0].high = 102.0;
    store_.store(newer);
    ASSERT_TRUE(window_.applyFilter());

    auto* checks = child<QComboBox>("checkChoice");
    EXPECT_GE(checks->findText(QStringLiteral("rate.s1")), 0);
    window_.showStatistics(QStringLiteral("rate.s1"));
    ASSERT_TRUE(window_.chart().hasPicture());
    const StatisticsPicture& shown = window_.chart().picture();
    // The newest revision first: only the one run under revision 3.
    EXPECT_EQ(shown.group.limitsRevision, "3");
    EXPECT_EQ(shown.group.count, 1);
    EXPECT_EQ(shown.otherGroups, 1);
    EXPECT_EQ(shown.demonstrationsLeftOut, 1);
    auto* groups = child<QComboBox>("limitsGroup");
    ASSERT_EQ(groups->count(), 2);
    groups->activated(1);
    const results::CheckGroup& older = window_.chart().picture().group;
    EXPECT_EQ(older.limitsRevision, "2");
    EXPECT_EQ(older.count, 5);  // not the demonstration's 150
    EXPECT_DOUBLE_EQ(older.max, 104.0);
    EXPECT_EQ(older.judged, 5);
    EXPECT_EQ(older.passed, 4);
    // SN-1 failed first on the 2nd; SN-2 passed on the 3rd; the demonstration is not counted.
    const std::vector<results::DayYield>& firstPass = window_.chart().picture().firstPass;
    ASSERT_FALSE(firstPass.empty());
    EXPECT_EQ(firstPass.front().firstAttempts, 1);
    EXPECT_EQ(firstPass.front().passedFirstTime, 0);

    window_.showStatistics(QStringLiteral("no.such.check"));
    EXPECT_FALSE(window_.chart().hasPicture());
}

TEST(ResultsCsv, FieldsAreQuotedOnlyWhenTheyMustBe) {
    EXPECT_EQ(csvField(QStringLiteral("plain text")), "plain text");
    EXPECT_EQ(csvField(QStringLiteral("a,b")), "\"a,b\"");
    EXPECT_EQ(csvField(QStringLiteral("say \"hi\"")), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvField(QStringLiteral("two\r\nlines")), "\"two\r\nlines\"");
    EXPECT_EQ(csvField({}), "");
}

// The README's picture of the statistics view: two weeks of a plausible
// production on two stations, drawn offscreen, only on request:
// VITALON_STATISTICS_PICTURE=docs/results-statistics.png (scripts/screenshot-statistics).
TEST(ResultsWindowPicture, PictureOfTheStatistics) {
    const QString picture = qEnvironmentVariable("VITALON_STATISTICS_PICTURE");
    if (picture.isEmpty()) {
        GTEST_SKIP() << "VITALON_STATISTICS_PICTURE names no file";
    }
    results::MemoryResultsStore store;
    std::mt19937 random(20261208);
    std::normal_distribution<double> height(40.1, 0.55);
    const QDateTime first(QDate(2026, 11, 23), QTime(7, 30), QTimeZone(3600));
    int unit = 0;
    for (int day = 0; day < 14; ++day) {
        if (day % 7 >= 5) {
            continue;  // no production at the weekend
        }
        for (int i = 0; i < 36; ++i) {
            const double value = std::round(height(random) * 100.0) / 100.0;
            const bool passed = value >= 38.0 && value <= 42.0;
            RunRecord run =
                runOf("", "", first.addDays(day).addSecs(i * 780), i % 2 == 0 ? "line-a" : "line-b",
                      passed ? "pass" : "fail", i % 3 == 0 ? "Ann" : "Sam", 100.0);
            run.uuid = "p" + std::to_string(day) + "-" + std::to_string(i);
            run.serialNumber = "TR71010-" + std::to_string(240000 + unit++);
            run.limitsName = "TR71010 production";
            run.limitsRevision = "4";
            run.checks[1].value = value;
            run.checks[1].verdict = passed ? "pass" : "fail";
            // Every sixth unit fails a first test on the rate and passes its retest.
            if (i % 6 == 5) {
                RunRecord firstTest = run;
                firstTest.uuid += "-first";
                firstTest.startedAt = run.startedAt.addSecs(-300);
                firstTest.outcome = "fail";
                firstTest.checks[0].value = 103.6;
                firstTest.checks[0].verdict = "fail";
                store.store(firstTest);
                run.attempt = 2;
            }
            store.store(run);
        }
    }
    ResultsWindow window(store);
    window.resize(1000, 700);
    ASSERT_TRUE(window.applyFilter());
    window.openRun(0);
    window.findChild<QTabWidget*>(QStringLiteral("resultsTabs"))->setCurrentIndex(1);
    window.findChild<QComboBox*>(QStringLiteral("checkChoice"))
        ->setCurrentText(QStringLiteral("cal.a1.height"));
    window.showStatistics(QStringLiteral("cal.a1.height"));
    ASSERT_TRUE(window.chart().hasPicture());
    EXPECT_TRUE(window.grab().save(picture)) << picture.toStdString();
}

}  // namespace
}  // namespace vitalon
