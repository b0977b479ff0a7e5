#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <thread>

#include <gtest/gtest.h>

#include "SampleRuns.h"
#include "SqlResultsStore.h"

namespace vitalon::results {
namespace {

using testing::sampleRun;

constexpr qint64 kMonday = 1'796'716'800'000;  // 2026-12-07 00:00 UTC

// Runs SQL on the file through a connection of its own, as another program
// (or an older Vitalon) would.
void execOn(const QString& file, const QStringList& statements) {
    const QString name = QStringLiteral("test-direct");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        QSqlQuery query(db);
        for (const QString& statement : statements) {
            ASSERT_TRUE(query.exec(statement))
                << statement.toStdString() << ": " << query.lastError().text().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

int countOn(const QString& file, const QString& sql) {
    const QString name = QStringLiteral("test-count");
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next()) {
                count = query.value(0).toInt();
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return count;
}

std::vector<std::string> uuidsOfRuns(const std::vector<RunRecord>& runs) {
    std::vector<std::string> uuids;
    for (const RunRecord& run : runs) {
        uuids.push_back(run.uuid);
    }
    return uuids;
}

class SqliteStore : public ::testing::Test {
protected:
    QString file() const { return folder_.filePath(QStringLiteral("data/results.sqlite")); }
    QTemporaryDir folder_;
};

TEST_F(SqliteStore, NewFileAndFolderAreCreatedAtTheCurrentSchemaInWalMode) {
    auto opened = SqlResultsStore::openLocal(file());
    ASSERT_NE(opened.store, nullptr) << opened.error;
    EXPECT_EQ(opened.store->schemaVersion(), SqlResultsStore::kSchemaVersion);
    EXPECT_TRUE(opened.store->writable());
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT version FROM schema_version")),
              SqlResultsStore::kSchemaVersion);
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT COUNT(*) FROM pragma_journal_mode "
                                             "WHERE journal_mode = 'wal'")),
              1);
    // Opening it again changes nothing.
    opened.store.reset();
    auto again = SqlResultsStore::openLocal(file());
    ASSERT_NE(again.store, nullptr) << again.error;
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT COUNT(*) FROM schema_version")), 1);
}

TEST_F(SqliteStore, StoreAtSchemaVersionOneIsMigratedWithItsRunsQueued) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file()).absolutePath()));
    // A version 1 file as the first release wrote it, with one run in it.
    execOn(file(),
           {"CREATE TABLE schema_version (version INTEGER NOT NULL)",
            "INSERT INTO schema_version VALUES (1)",
            "CREATE TABLE runs (id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE,"
            " serial_number TEXT NOT NULL, operator_name TEXT NOT NULL, station TEXT NOT NULL,"
            " started_ms BIGINT NOT NULL, started_offset INTEGER NOT NULL,"
            " ended_ms BIGINT, ended_offset INTEGER, outcome TEXT NOT NULL,"
            " limits_name TEXT NOT NULL, limits_revision TEXT NOT NULL,"
            " limits_sha256 TEXT NOT NULL, demonstration INTEGER NOT NULL,"
            " vitalon_version TEXT NOT NULL, vitalon_commit TEXT NOT NULL,"
            " adapter TEXT NOT NULL, attempt INTEGER NOT NULL, retest_reason TEXT NOT NULL)",
            "CREATE TABLE checks (run_id BIGINT NOT NULL REFERENCES runs (id),"
            " position INTEGER NOT NULL, check_id TEXT NOT NULL, name TEXT NOT NULL,"
            " value DOUBLE PRECISION, unit TEXT NOT NULL, low DOUBLE PRECISION,"
            " high DOUBLE PRECISION, verdict TEXT NOT NULL, marginal INTEGER NOT NULL,"
            " PRIMARY KEY (run_id, position))",
            "CREATE TABLE attachments (run_id BIGINT NOT NULL REFERENCES runs (id),"
            " position INTEGER NOT NULL, kind TEXT NOT NULL, path TEXT NOT NULL,"
            " sha256 TEXT NOT NULL, PRIMARY KEY (run_id, position))",
            "INSERT INTO runs VALUES (7, 'old-run', 'SN-OLD', 'Ann', 'bench-1', 1796716800000,"
            " 0, NULL, NULL, 'fail', 'L', '1', '', 0, '1.3.0', '', '', 1, '')",
            "INSERT INTO checks VALUES (7, 0, 'rate.s1', 'sample rate at S1', 97.5, '/s',"
            " 99.0, 101.0, 'fail', 0)"});

    auto opened = SqlResultsStore::openLocal(file());
    ASSERT_NE(opened.store, nullptr) << opened.error;
    SqlResultsStore& store = *opened.store;
    EXPECT_EQ(store.schemaVersion(), SqlResultsStore::kSchemaVersion);
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT version FROM schema_version")),
              SqlResultsStore::kSchemaVersion);
    // Every index of the current schema is there.
    EXPECT_EQ(
        countOn(file(), QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type ="
                                       " 'index' AND name IN ('runs_unsent', 'runs_by_serial',"
                                       " 'runs_by_start', 'checks_by_check')")),
        4);
    const auto old = store.run("old-run");
    ASSERT_TRUE(old.value.has_value()) << old.error;
    EXPECT_EQ(old.value->serialNumber, "SN-OLD");
    ASSERT_EQ(old.value->checks.size(), 1u);
    EXPECT_EQ(old.value->checks[0].value, 97.5);
    EXPECT_EQ(store.attempts("SN-OLD").value.at(0).failedChecks,
              std::vector<std::string>{"rate.s1"});
    // Stored before there was a queue: it waits to be sent like a new one.
    EXPECT_EQ(store.unsentRuns().value, std::vector<std::string>{"old-run"});
    EXPECT_EQ(store.store(sampleRun("new-run", "SN-NEW", kMonday)).status, StoreStatus::Stored);
    EXPECT_EQ(store.unsentCount().value, 2);
}

TEST_F(SqliteStore, SchemaNewerThanOursIsReadButNeverWritten) {
    {
        auto opened = SqlResultsStore::openLocal(file());
        ASSERT_NE(opened.store, nullptr) << opened.error;
        ASSERT_EQ(opened.store->store(sampleRun("r1", "SN-1", kMonday)).status,
                  StoreStatus::Stored);
    }
    execOn(file(),
           {"UPDATE schema_version SET version = 99", "CREATE TABLE from_the_future (x INTEGER)"});

    auto opened = SqlResultsStore::openLocal(file());
    ASSERT_NE(opened.store, nullptr) << opened.error;
    SqlResultsStore& store = *opened.store;
    EXPECT_FALSE(store.writable());
    EXPECT_EQ(store.schemaVersion(), 99);
    EXPECT_NE(store.problem().find("schema version 99 is newer"), std::string::npos)
        << store.problem();
    EXPECT_NE(store.problem().find("not written to"), std::string::npos) << store.problem();

    const StoreResult refused = store.store(sampleRun("r2", "SN-2", kMonday));
    EXPECT_EQ(refused.status, StoreStatus::Failed);
    EXPECT_EQ(refused.error, store.problem());
    EXPECT_EQ(store.markSent("r1"), store.problem());
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT COUNT(*) FROM runs")), 1);
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT COUNT(*) FROM runs WHERE sent = 1")), 0);
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT version FROM schema_version")), 99);
    EXPECT_EQ(store.runs({}).value.size(), 1u);
}

TEST_F(SqliteStore, FileThatIsNotADatabaseIsNamedAndLeftAlone) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file()).absolutePath()));
    QFile garbage(file());
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    const QByteArray text("these are my notes, not a database\n");
    garbage.write(text.repeated(200));
    garbage.close();

    const auto opened = SqlResultsStore::openLocal(file());
    EXPECT_EQ(opened.store, nullptr);
    EXPECT_NE(opened.error.find("results database " + file().toStdString()), std::string::npos)
        << opened.error;
    ASSERT_TRUE(garbage.open(QIODevice::ReadOnly));
    EXPECT_EQ(garbage.readAll(), text.repeated(200));
}

TEST_F(SqliteStore, FolderThatCannotBeCreatedIsNamed) {
    QFile blocker(folder_.filePath(QStringLiteral("data")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
    blocker.close();
    const auto opened = SqlResultsStore::openLocal(file());
    EXPECT_EQ(opened.store, nullptr);
    EXPECT_NE(opened.error.find("cannot create the folder"), std::string::npos) << opened.error;
}

TEST_F(SqliteStore, TheQueueListsUnsentRunsOldestFirstUntilMarkedSent) {
    auto opened = SqlResultsStore::openLocal(file());
    ASSERT_NE(opened.store, nullptr) << opened.error;
    SqlResultsStore& store = *opened.store;
    for (const char* uuid : {"q1", "q2", "q3"}) {
        ASSERT_EQ(store.store(sampleRun(uuid, "SN", kMonday)).status, StoreStatus::Stored);
    }
    EXPECT_EQ(store.unsentRuns().value, (std::vector<std::string>{"q1", "q2", "q3"}));
    EXPECT_EQ(store.markSent("q2"), "");
    EXPECT_EQ(store.unsentRuns().value, (std::vector<std::string>{"q1", "q3"}));
    EXPECT_EQ(store.unsentCount().value, 2);
}

// A write that fails half-way leaves nothing behind: no run without its
// checks, no batch in part.
TEST_F(SqliteStore, AFailedWriteStoresNothingOfTheRunOrTheBatch) {
    auto opened = SqlResultsStore::openLocal(file());
    ASSERT_NE(opened.store, nullptr) << opened.error;
    SqlResultsStore& store = *opened.store;
    execOn(file(), {"CREATE TRIGGER refuse_check BEFORE INSERT ON checks"
                    " WHEN NEW.check_id = 'cal.a2.height' AND NEW.value < 0"
                    " BEGIN SELECT RAISE(ABORT, 'disk full'); END"});
    RunRecord bad = sampleRun("bad", "SN-BAD", kMonday);
    bad.checks.back().value = -1.0;  // its last check cannot be written

    const StoreResult refused = store.store(bad);
    EXPECT_EQ(refused.status, StoreStatus::Failed);
    EXPECT_NE(refused.error.find("disk full"), std::string::npos) << refused.error;
    EXPECT_NE(refused.error.find("nothing stored"), std::string::npos) << refused.error;
    EXPECT_FALSE(store.run("bad").value.has_value());
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT COUNT(*) FROM checks")), 0);

    ASSERT_EQ(store.store(sampleRun("kept", "SN", kMonday)).status, StoreStatus::Stored);
    const auto batch = store.storeAll({sampleRun("b1", "SN", kMonday), bad});
    EXPECT_NE(batch.error.find("disk full"), std::string::npos) << batch.error;
    EXPECT_EQ(batch.stored, 0);
    EXPECT_EQ(uuidsOfRuns(store.runs({}).value), std::vector<std::string>{"kept"});

    const auto good = store.storeAll({sampleRun("b1", "SN", kMonday), sampleRun("kept", "SN", 0),
                                      sampleRun("b2", "SN", kMonday), sampleRun("b1", "SN", 0)});
    EXPECT_EQ(good.error, "");
    EXPECT_EQ(good.stored, 2);
    EXPECT_EQ(good.alreadyStored, 2);
    EXPECT_EQ(store.runs({}).value.size(), 3u);
    EXPECT_EQ(store.run("b1").value->startedAt.toMSecsSinceEpoch(), kMonday);  // the first kept
}

// Several programs open a new file and write to it at once (four stations'
// worth of module tests): the schema is made once, every run arrives, none
// twice, none half.
TEST_F(SqliteStore, ConcurrentWritersLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kRunsEach = 25;
    std::vector<std::string> errors(kWriters);
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            auto opened = SqlResultsStore::openLocal(file());
            if (!opened.store) {
                errors[w] = opened.error;
                return;
            }
            for (int i = 0; i < kRunsEach; ++i) {
                const std::string uuid = "w" + std::to_string(w) + "-" + std::to_string(i);
                const StoreResult result = opened.store->store(sampleRun(uuid, "SN", kMonday));
                if (result.status != StoreStatus::Stored) {
                    errors[w] = uuid + ": " + result.error;
                    return;
                }
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    for (const std::string& error : errors) {
        EXPECT_EQ(error, "");
    }
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT COUNT(*) FROM runs")), kWriters * kRunsEach);
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT COUNT(*) FROM checks")),
              kWriters * kRunsEach * 4);
    EXPECT_EQ(countOn(file(), QStringLiteral("SELECT COUNT(*) FROM schema_version")), 1);
}

}  // namespace
}  // namespace vitalon::results
