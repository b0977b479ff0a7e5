// `vitalon --results`, `--results-sync` and `--results-db`: what they print
// from a store (in memory here), and the program itself on a SQLite store in a
// private data folder and a private PostgreSQL server.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimeZone>
#include <sstream>
#include <string>
#include <vector>

#include "ChildSpawn.h"
#include "MemoryResultsStore.h"
#include "PostgresServer.h"
#include "ResultsCommandLine.h"
#include "ResultsSettings.h"
#include "SqlResultsStore.h"

namespace vitalon {
namespace {

// 2026-12-01 09:00 UTC
constexpr qint64 kDecemberFirst = 1'796'115'600'000;
constexpr qint64 kDay = 86'400'000;

results::RunRecord storedRun(const std::string& uuid, const std::string& serial, qint64 startMs,
                             double rate, const std::string& outcome = "pass") {
    results::RunRecord run;
    run.uuid = uuid;
    run.serialNumber = serial;
    run.operatorName = "O'Neil, \"Zoe\"";  // a separator and quotes for the CSV
    run.station = "bench-2";
    run.startedAt = QDateTime::fromMSecsSinceEpoch(startMs, QTimeZone(3600));
    run.endedAt = QDateTime::fromMSecsSinceEpoch(startMs + 130'000, QTimeZone(3600));
    run.outcome = outcome;
    run.limitsName = "production";
    run.limitsRevision = "3";
    run.vitalonVersion = "1.4.0";
    run.attempt = 1;
    run.checks = {
        {"rate.s1", "sample rate at S1", rate, "/s", 99.0, 101.0,
         rate >= 99.0 && rate <= 101.0 ? "pass" : "fail", false},
        {"mains.rejection", "mains rejection", 41.5, "dB", 40.0, std::nullopt, "pass", true},
    };
    return run;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        found.push_back(line);
    }
    return found;
}

QJsonObject jsonOf(const std::string& text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return document.object();
}

struct SeededStore {
    SeededStore() {
        store.store(storedRun("run-a1", "SN-A", kDecemberFirst, 99.5, "pass"));
        store.store(storedRun("run-b1", "SN-B", kDecemberFirst + kDay, 101.5, "fail"));
        results::RunRecord retest = storedRun("run-a2", "SN-A", kDecemberFirst + 2 * kDay, 100.5);
        retest.attempt = 2;
        store.store(retest);
        results::RunRecord demo = storedRun("run-demo", "SN-D", kDecemberFirst, 150.0, "fail");
        demo.demonstration = true;
        store.store(demo);
    }
    results::MemoryResultsStore store;
};

// What is printed: every check of every selected run, quoted where needed.
TEST(ResultsCommandLine, CsvHasOneRowPerCheckAndQuotesWhatNeedsIt) {
    SeededStore seeded;
    ResultsQuery query;
    query.serialNumber = "SN-A";
    const CommandOutput output = queryResults(seeded.store, query);
    EXPECT_EQ(output.exitCode, 0) << output.err;
    const std::vector<std::string> rows = lines(output.out);
    ASSERT_EQ(rows.size(), 5u) << output.out;  // header, two runs of two checks
    EXPECT_TRUE(rows[0].starts_with("run,serial,operator,station,started")) << rows[0];
    EXPECT_TRUE(
        rows[1].starts_with("run-a1,SN-A,\"O'Neil, \"\"Zoe\"\"\",bench-2,"
                            "2026-12-01T10:00:00+01:00,"))
        << rows[1];
    EXPECT_NE(rows[1].find(",rate.s1,sample rate at S1,99.5,/s,99,101,pass,no"), std::string::npos)
        << rows[1];
    // A one-sided limit leaves the other column empty.
    EXPECT_NE(rows[2].find(",mains.rejection,mains rejection,41.5,dB,40,,pass,yes"),
              std::string::npos)
        << rows[2];
    EXPECT_TRUE(rows[3].starts_with("run-a2,")) << rows[3];
}

TEST(ResultsCommandLine, JsonListsRunsWithTheirChecksWithinTheDates) {
    SeededStore seeded;
    ResultsQuery query;
    query.format = "json";
    query.since = "2026-12-02";
    query.until = "2026-12-02";  // through the end of that day
    const CommandOutput output = queryResults(seeded.store, query);
    ASSERT_EQ(output.exitCode, 0) << output.err;
    const QJsonArray runs = jsonOf(output.out)["runs"].toArray();
    ASSERT_EQ(runs.size(), 1);
    const QJsonObject run = runs[0].toObject();
    EXPECT_EQ(run["uuid"].toString(), "run-b1");
    EXPECT_EQ(run["outcome"].toString(), "fail");
    EXPECT_EQ(run["limits"].toObject()["revision"].toString(), "3");
    const QJsonArray checks = run["checks"].toArray();
    ASSERT_EQ(checks.size(), 2);
    EXPECT_EQ(checks[0].toObject()["value"].toDouble(), 101.5);
    EXPECT_EQ(checks[0].toObject()["verdict"].toString(), "fail");
    EXPECT_TRUE(checks[1].toObject()["high"].isNull());
}

TEST(ResultsCommandLine, BadOptionsAndAFailingStoreEndWithTwo) {
    SeededStore seeded;
    for (const auto& [field, value] :
         {std::pair{&ResultsQuery::format, "xml"}, std::pair{&ResultsQuery::since, "12/01/2026"},
          std::pair{&ResultsQuery::until, "yesterday"}}) {
        ResultsQuery query;
        query.*field = QString::fromLatin1(value);
        const CommandOutput output = queryResults(seeded.store, query);
        EXPECT_EQ(output.exitCode, 2) << value;
        EXPECT_NE(output.err.find(value), std::string::npos) << output.err;
        EXPECT_TRUE(output.out.empty());
    }
    ResultsQuery backwards;
    backwards.since = "2026-12-05";
    backwards.until = "2026-12-01";
    EXPECT_EQ(queryResults(seeded.store, backwards).exitCode, 2);

    seeded.store.failWith("database is locked");
    const CommandOutput failed = queryResults(seeded.store, ResultsQuery{});
    EXPECT_EQ(failed.exitCode, 2);
    EXPECT_NE(failed.err.find("database is locked"), std::string::npos) << failed.err;
}

TEST(ResultsCommandLine, DatesAreLocalDaysOrExactTimes) {
    EXPECT_EQ(*parseResultsDate("2026-12-08", false), QDateTime(QDate(2026, 12, 8), QTime(0, 0)));
    EXPECT_EQ(*parseResultsDate("2026-12-08", true), QDateTime(QDate(2026, 12, 9), QTime(0, 0)));
    EXPECT_EQ(*parseResultsDate(" 2026-12-08T14:30 ", true),
              QDateTime(QDate(2026, 12, 8), QTime(14, 30)));
    EXPECT_FALSE(parseResultsDate("2026-02-30", false));
    EXPECT_FALSE(parseResultsDate("", false));
}

// With --check: that check's figures, demonstrations left out.
TEST(ResultsCommandLine, CheckStatisticsAsJsonAndCsv) {
    SeededStore seeded;
    ResultsQuery query;
    query.checkId = "rate.s1";
    query.format = "json";
    const CommandOutput json = queryResults(seeded.store, query);
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const QJsonObject statistics = jsonOf(json.out);
    EXPECT_EQ(statistics["demonstrationsLeftOut"].toInt(), 1);
    const QJsonArray groups = statistics["groups"].toArray();
    ASSERT_EQ(groups.size(), 1);
    const QJsonObject group = groups[0].toObject();
    EXPECT_EQ(group["count"].toInt(), 3);
    EXPECT_NEAR(group["mean"].toDouble(), 100.5, 1e-9);
    EXPECT_NEAR(group["standardDeviation"].toDouble(), 1.0, 1e-9);
    EXPECT_NEAR(group["cp"].toDouble(), 2.0 / 6.0, 1e-9);
    EXPECT_NEAR(group["cpk"].toDouble(), 0.5 / 3.0, 1e-9);
    EXPECT_NEAR(group["yield"].toDouble(), 2.0 / 3.0, 1e-9);
    EXPECT_EQ(group["unit"].toString(), "/s");
    int binned = 0;
    for (const QJsonValue count : group["histogram"].toObject()["counts"].toArray()) {
        binned += count.toInt();
    }
    EXPECT_EQ(binned, 3);
    EXPECT_EQ(group["trend"].toArray().size(), 3);
    // SN-A's second run is a retest: two first attempts, one passed on 1 December.
    const QJsonArray firstPass = statistics["firstPassYield"].toArray();
    ASSERT_EQ(firstPass.size(), 2);
    EXPECT_EQ(firstPass[0].toObject()["day"].toString(), "2026-12-01");
    EXPECT_EQ(firstPass[0].toObject()["yield"].toDouble(), 1.0);
    EXPECT_EQ(firstPass[1].toObject()["yield"].toDouble(), 0.0);

    query.format = "csv";
    const CommandOutput csv = queryResults(seeded.store, query);
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const std::vector<std::string> rows = lines(csv.out);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_TRUE(rows[1].starts_with("rate.s1,production,3,99,101,/s,3,100.5,1,99.5,101.5,"))
        << rows[1];

    query.checkId = "no.such.check";
    const CommandOutput unknown = queryResults(seeded.store, query);
    EXPECT_EQ(unknown.exitCode, 0);
    EXPECT_NE(unknown.err.find("no stored value of check no.such.check"), std::string::npos);
}

// The program itself, on its own data and settings folders.
using Ran = testing::FinishedRun;

class ProgramFolders {
public:
    ProgramFolders() {
        data_ = dir_.filePath(QStringLiteral("data")).toStdString();
        config_ = dir_.filePath(QStringLiteral("config")).toStdString();
    }

    // Where the program keeps its local store under these folders.
    QString storeFile() const {
        return QString::fromStdString(data_) + QStringLiteral("/vitalon/results.sqlite");
    }

    Ran run(const std::vector<std::string>& args) const {
        return testing::runToEnd(VITALON_EXE, args,
                                 {{"XDG_DATA_HOME", data_},
                                  {"XDG_CONFIG_HOME", config_},
                                  {"QT_QPA_PLATFORM", "no-such-platform"},
                                  {"DISPLAY", ""}});
    }

private:
    QTemporaryDir dir_;
    std::string data_;
    std::string config_;
};

// The command line and the settings dialog keep the server's password the
// same way: apart from the address, decoded, put back encoded. A password
// with characters a URL must escape reaches the server as typed.
TEST(ResultsCommandLine, RememberedServerKeepsItsPasswordApartAndIntact) {
    const ServerChoice given = chooseResultsServer(
        QStringLiteral("postgresql://tech:p%40ss%3Aw%25rd@/fleet?host=/run/pg"));
    ASSERT_TRUE(given.error.empty()) << given.error;
    ASSERT_TRUE(given.address);
    EXPECT_EQ(given.address->password, "p@ss:w%rd");
    const ResultsSettings kept = ResultsSettings::load();
    EXPECT_EQ(kept.serverPassword, QStringLiteral("p@ss:w%rd"));
    EXPECT_FALSE(kept.serverUrl.contains(QStringLiteral("p%40ss"))) << kept.serverUrl.toStdString();
    EXPECT_EQ(given.remembered.find("p%40ss"), std::string::npos) << given.remembered;

    const ServerChoice later = chooseResultsServer(std::nullopt);
    ASSERT_TRUE(later.error.empty()) << later.error;
    ASSERT_TRUE(later.address);
    EXPECT_EQ(later.address->password, "p@ss:w%rd");
    EXPECT_EQ(later.address->host, "/run/pg");
    EXPECT_EQ(later.address->database, "fleet");

    const ServerChoice forgotten = chooseResultsServer(QString());
    EXPECT_TRUE(forgotten.error.empty());
    EXPECT_FALSE(forgotten.address);
    EXPECT_TRUE(ResultsSettings::load().serverPassword.isEmpty());
}

TEST(ResultsCommandLine, ProgramPrintsItsLocalStore) {
    ProgramFolders folders;
    {
        auto local = results::SqlResultsStore::openLocal(folders.storeFile());
        ASSERT_TRUE(local.store) << local.error;
        local.store->store(storedRun("run-a1", "SN-A", kDecemberFirst, 100.0));
        local.store->store(storedRun("run-b1", "SN-B", kDecemberFirst + kDay, 101.5, "fail"));
        results::RunRecord elsewhere = storedRun("run-c1", "SN-C", kDecemberFirst, 100.2);
        elsewhere.station = "bench-7";
        local.store->store(elsewhere);
    }
    const Ran atStation = folders.run({"--results", "--station", "bench-7", "--format", "json"});
    ASSERT_EQ(atStation.exitCode, 0) << atStation.err;
    const QJsonArray stationRuns = jsonOf(atStation.out)["runs"].toArray();
    ASSERT_EQ(stationRuns.size(), 1);
    EXPECT_EQ(stationRuns[0].toObject()["serialNumber"].toString(), "SN-C");
    const Ran strayStation = folders.run({"--station", "bench-7"});
    EXPECT_EQ(strayStation.exitCode, 2);
    EXPECT_NE(strayStation.err.find("--station needs --module-test or --results"),
              std::string::npos)
        << strayStation.err;

    const Ran json = folders.run({"--results", "--serial", "SN-B", "--format", "json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const QJsonArray runs = jsonOf(json.out)["runs"].toArray();
    ASSERT_EQ(runs.size(), 1);
    EXPECT_EQ(runs[0].toObject()["serialNumber"].toString(), "SN-B");
    EXPECT_EQ(runs[0].toObject()["checks"].toArray().size(), 2);

    const Ran statistics = folders.run({"--results", "--check", "rate.s1"});
    ASSERT_EQ(statistics.exitCode, 0) << statistics.err;
    EXPECT_NE(statistics.out.find("\nrate.s1,production,3,99,101,/s,3,"), std::string::npos)
        << statistics.out;

    const Ran stray = folders.run({"--check", "rate.s1"});
    EXPECT_EQ(stray.exitCode, 2);
    EXPECT_NE(stray.err.find("--check needs --results"), std::string::npos) << stray.err;
    const Ran both = folders.run({"--results", "--results-sync"});
    EXPECT_EQ(both.exitCode, 2);
    const Ran noServer = folders.run({"--results-sync"});
    EXPECT_EQ(noServer.exitCode, 2);
    EXPECT_NE(noServer.err.find("--results-db"), std::string::npos) << noServer.err;
}

TEST(ResultsCommandLine, SyncSendsTheQueueOnceAndKeepsItWhileTheServerIsDown) {
    if (testing::PostgresServer::programFolder().empty()) {
        GTEST_SKIP() << "PostgreSQL is not installed (no initdb and pg_ctl): skipped";
    }
    testing::PostgresServer server;
    ASSERT_TRUE(server.error().empty()) << server.error();
    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_TRUE(server.createDatabase("fleet")) << server.error();
    const std::string address = server.address("fleet");

    ProgramFolders folders;
    {
        auto local = results::SqlResultsStore::openLocal(folders.storeFile());
        ASSERT_TRUE(local.store) << local.error;
        local.store->store(storedRun("run-a1", "SN-A", kDecemberFirst, 100.0));
        local.store->store(storedRun("run-b1", "SN-B", kDecemberFirst + kDay, 101.5, "fail"));
    }
    // Given once, remembered after.
    const Ran first = folders.run({"--results-sync", "--results-db", address});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_NE(first.err.find("2 runs sent"), std::string::npos) << first.err;
    const Ran again = folders.run({"--results-sync"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.err.find("0 runs sent"), std::string::npos) << again.err;
    const Ran onServer = folders.run({"--results", "--results-db", address, "--format", "json"});
    ASSERT_EQ(onServer.exitCode, 0) << onServer.err;
    EXPECT_EQ(jsonOf(onServer.out)["runs"].toArray().size(), 2);

    ASSERT_TRUE(server.stop()) << server.error();
    {
        auto local = results::SqlResultsStore::openLocal(folders.storeFile());
        ASSERT_TRUE(local.store) << local.error;
        local.store->store(storedRun("run-a2", "SN-A", kDecemberFirst + 2 * kDay, 100.5));
    }
    const Ran down = folders.run({"--results-sync"});
    EXPECT_EQ(down.exitCode, 1) << down.err;
    EXPECT_NE(down.err.find("1 run still queued"), std::string::npos) << down.err;
    for (const Ran* ran : {&first, &again, &onServer, &down}) {
        EXPECT_EQ(ran->err.find(testing::PostgresServer::kPassword), std::string::npos) << ran->err;
        EXPECT_EQ(ran->out.find(testing::PostgresServer::kPassword), std::string::npos);
    }

    ASSERT_TRUE(server.start()) << server.error();
    const Ran back = folders.run({"--results-sync"});
    EXPECT_EQ(back.exitCode, 0) << back.err;
    EXPECT_NE(back.err.find("1 run sent"), std::string::npos) << back.err;
    const Ran all = folders.run({"--results", "--results-db", address, "--format", "json"});
    EXPECT_EQ(jsonOf(all.out)["runs"].toArray().size(), 3) << all.out;
}

}  // namespace
}  // namespace vitalon
