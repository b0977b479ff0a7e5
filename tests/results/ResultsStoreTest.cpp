#include <QTemporaryDir>
#include <QTimeZone>
#include <functional>
#include <memory>
#include <ostream>

#include <gtest/gtest.h>

#include "MemoryResultsStore.h"
#include "PostgresBackend.h"
#include "SampleRuns.h"
#include "SqlResultsStore.h"

namespace vitalon::results {
namespace {

using testing::sampleRun;

constexpr qint64 kDay = 86'400'000;
constexpr qint64 kMonday = 1'796'716'800'000;  // 2026-12-07 00:00 UTC

// Each back end behind the one interface: they must answer alike.
struct Backend {
    const char* name;
    std::function<std::unique_ptr<ResultsStore>(const QString& folder, std::string& skip)> open;
};

// Names the back end in test listings instead of its bytes.
void PrintTo(const Backend& backend, std::ostream* out) {
    *out << backend.name;
}

const Backend kBackends[] = {
    {"Memory",
     [](const QString&, std::string&) -> std::unique_ptr<ResultsStore> {
         return std::make_unique<MemoryResultsStore>();
     }},
    {"Sqlite",
     [](const QString& folder, std::string&) -> std::unique_ptr<ResultsStore> {
         auto opened = SqlResultsStore::openLocal(folder + QStringLiteral("/results.sqlite"));
         EXPECT_EQ(opened.error, "");
         return std::move(opened.store);
     }},
    {"Postgres",
     [](const QString&, std::string& skip) -> std::unique_ptr<ResultsStore> {
         skip = testing::postgresMissing();
         if (!skip.empty()) {
             return nullptr;
         }
         const std::string address = testing::freshPostgresDatabase(testing::sharedPostgres());
         if (address.empty()) {
             return nullptr;
         }
         auto opened = SqlResultsStore::openServer(testing::serverAddressOf(address));
         EXPECT_EQ(opened.error, "");
         return std::move(opened.store);
     }},
};

class StoreContract : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        std::string skip;
        store_ = GetParam().open(folder_.path(), skip);
        if (!skip.empty()) {
            GTEST_SKIP() << skip;
        }
        ASSERT_NE(store_, nullptr);
    }

    void storeAll(const std::vector<RunRecord>& runs) {
        for (const RunRecord& run : runs) {
            const StoreResult result = store_->store(run);
            ASSERT_EQ(result.status, StoreStatus::Stored) << result.error;
        }
    }

    QTemporaryDir folder_;
    std::unique_ptr<ResultsStore> store_;
};

RunFilter filterOf(const std::function<void(RunFilter&)>& set) {
    RunFilter filter;
    set(filter);
    return filter;
}

std::vector<std::string> uuidsOf(const std::vector<RunRecord>& runs) {
    std::vector<std::string> uuids;
    for (const RunRecord& run : runs) {
        uuids.push_back(run.uuid);
    }
    return uuids;
}

TEST_P(StoreContract, StoredRunReadsBackFieldByField) {
    const RunRecord stored = sampleRun("0b6f3c1e-1111-4c2a-9d7e-000000000001", "SN-1", kMonday);
    storeAll({stored});

    const auto found = store_->run(stored.uuid);
    ASSERT_TRUE(found.ok()) << found.error;
    ASSERT_TRUE(found.value.has_value());
    const RunRecord& back = *found.value;
    EXPECT_EQ(back.uuid, stored.uuid);
    EXPECT_EQ(back.serialNumber, "SN-1");
    EXPECT_EQ(back.operatorName, "Zoë O'Neil");
    EXPECT_EQ(back.station, "bench-2");
    EXPECT_EQ(back.startedAt.toMSecsSinceEpoch(), kMonday);
    EXPECT_EQ(back.startedAt.offsetFromUtc(), 3600);
    EXPECT_EQ(back.endedAt.toMSecsSinceEpoch(), kMonday + 131'250);
    EXPECT_EQ(back.endedAt.offsetFromUtc(), 7200);
    EXPECT_EQ(back.outcome, "pass");
    EXPECT_EQ(back.limitsName, "TR71000 production");
    EXPECT_EQ(back.limitsRevision, "2026-12-08");
    EXPECT_EQ(back.limitsSha256, std::string(64, 'a'));
    EXPECT_FALSE(back.demonstration);
    EXPECT_EQ(back.vitalonVersion, "1.4.0");
    EXPECT_EQ(back.vitalonCommit, "e46bbac");
    EXPECT_EQ(back.adapter, "FTDI FT232R A10K3Z");
    EXPECT_EQ(back.attempt, 2);
    EXPECT_EQ(back.retestReason, "fixture cable replaced");
    ASSERT_EQ(back.checks.size(), stored.checks.size());
    for (std::size_t i = 0; i < stored.checks.size(); ++i) {
        EXPECT_EQ(back.checks[i], stored.checks[i]) << "check " << stored.checks[i].checkId;
    }
    EXPECT_FALSE(back.checks[2].value.has_value());
    EXPECT_FALSE(back.checks[1].high.has_value());
    EXPECT_TRUE(back.checks[1].marginal);
    EXPECT_EQ(back.attachments, stored.attachments);
    EXPECT_EQ(back, stored);
}

TEST_P(StoreContract, RunWithoutEndTimeChecksOrAttachmentsReadsBackEmpty) {
    RunRecord stored = sampleRun("0b6f3c1e-1111-4c2a-9d7e-000000000002", "SN-2", kMonday);
    stored.endedAt = {};
    stored.checks.clear();
    stored.attachments.clear();
    stored.demonstration = true;
    storeAll({stored});
    const auto found = store_->run(stored.uuid);
    ASSERT_TRUE(found.value.has_value()) << found.error;
    EXPECT_FALSE(found.value->endedAt.isValid());
    EXPECT_TRUE(found.value->demonstration);
    EXPECT_EQ(*found.value, stored);

    const auto missing = store_->run("no-such-run");
    EXPECT_TRUE(missing.ok()) << missing.error;
    EXPECT_FALSE(missing.value.has_value());
}

TEST_P(StoreContract, ResendingARunStoresNothingTwice) {
    const RunRecord first = sampleRun("0b6f3c1e-1111-4c2a-9d7e-000000000003", "SN-3", kMonday);
    storeAll({first});
    RunRecord changed = first;
    changed.outcome = "fail";
    changed.checks.pop_back();
    const StoreResult again = store_->store(changed);
    EXPECT_EQ(again.status, StoreStatus::AlreadyStored) << again.error;

    const auto all = store_->runs({});
    ASSERT_TRUE(all.ok()) << all.error;
    ASSERT_EQ(all.value.size(), 1u);
    EXPECT_EQ(all.value[0].outcome, "pass");
    const auto values = store_->checkValues("cal.a2.height", {});
    EXPECT_EQ(values.value.size(), 1u);
    EXPECT_EQ(store_->run(first.uuid).value->checks.size(), first.checks.size());
}

TEST_P(StoreContract, RunWithoutUuidIsRefused) {
    const StoreResult result = store_->store(sampleRun("", "SN-4", kMonday));
    EXPECT_EQ(result.status, StoreStatus::Failed);
    EXPECT_NE(result.error.find("UUID"), std::string::npos) << result.error;
    EXPECT_TRUE(store_->runs({}).value.empty());
}

TEST_P(StoreContract, FiltersSelectRunsOldestFirst) {
    RunRecord a = sampleRun("00000000-0000-4000-8000-00000000000a", "SN-A", kMonday + 2 * kDay);
    RunRecord b = sampleRun("00000000-0000-4000-8000-00000000000b", "SN-B", kMonday, "fail");
    RunRecord c = sampleRun("00000000-0000-4000-8000-00000000000c", "SN-A", kMonday + kDay);
    c.station = "bench-7";
    c.operatorName = "Sam";
    storeAll({a, b, c});

    auto select = [&](RunFilter filter) {
        const auto found = store_->runs(filter);
        EXPECT_TRUE(found.ok()) << found.error;
        for (const RunRecord& run : found.value) {
            EXPECT_TRUE(run.checks.empty() && run.attachments.empty())
                << "runs() lists runs without their checks";
        }
        return uuidsOf(found.value);
    };
    EXPECT_EQ(select({}), (std::vector<std::string>{b.uuid, c.uuid, a.uuid}));
    EXPECT_EQ(select(filterOf([&](RunFilter& f) { f.serialNumber = "SN-A"; })),
              (std::vector<std::string>{c.uuid, a.uuid}));
    EXPECT_EQ(select(filterOf([&](RunFilter& f) { f.serialNumber = "SN-none"; })),
              std::vector<std::string>{});
    // since is included, until is not
    const QDateTime tuesday = QDateTime::fromMSecsSinceEpoch(kMonday + kDay, QTimeZone::utc());
    EXPECT_EQ(select(filterOf([&](RunFilter& f) { f.since = tuesday; })),
              (std::vector<std::string>{c.uuid, a.uuid}));
    EXPECT_EQ(select(filterOf([&](RunFilter& f) { f.until = tuesday; })),
              (std::vector<std::string>{b.uuid}));
    EXPECT_EQ(select(filterOf([&](RunFilter& f) {
                  f.since = tuesday;
                  f.until = tuesday.addMSecs(1);
              })),
              (std::vector<std::string>{c.uuid}));
    EXPECT_EQ(select(filterOf([&](RunFilter& f) { f.station = "bench-7"; })),
              (std::vector<std::string>{c.uuid}));
    EXPECT_EQ(select(filterOf([&](RunFilter& f) { f.outcome = "fail"; })),
              (std::vector<std::string>{b.uuid}));
    EXPECT_EQ(select(filterOf([&](RunFilter& f) { f.operatorName = "Sam"; })),
              (std::vector<std::string>{c.uuid}));
    EXPECT_EQ(select(filterOf([&](RunFilter& f) {
                  f.serialNumber = "SN-A";
                  f.station = "bench-2";
              })),
              (std::vector<std::string>{a.uuid}));
}

TEST_P(StoreContract, CheckValuesCarryTheirRunAndKeepUnmeasuredValues) {
    RunRecord older = sampleRun("00000000-0000-4000-8000-000000000011", "SN-1", kMonday);
    RunRecord newer =
        sampleRun("00000000-0000-4000-8000-000000000012", "SN-2", kMonday + kDay, "fail");
    newer.limitsRevision = "2026-12-09";
    newer.demonstration = true;
    newer.checks[2].value = 3.0;
    storeAll({newer, older});

    const auto values = store_->checkValues("link.errors", {});
    ASSERT_TRUE(values.ok()) << values.error;
    ASSERT_EQ(values.value.size(), 2u);
    const CheckValue& first = values.value[0];
    EXPECT_EQ(first.runUuid, older.uuid);
    EXPECT_EQ(first.serialNumber, "SN-1");
    EXPECT_EQ(first.station, "bench-2");
    EXPECT_EQ(first.startedAt.toMSecsSinceEpoch(), kMonday);
    EXPECT_EQ(first.outcome, "pass");
    EXPECT_EQ(first.limitsName, "TR71000 production");
    EXPECT_EQ(first.limitsRevision, "2026-12-08");
    EXPECT_EQ(first.limitsSha256, std::string(64, 'a'));
    EXPECT_FALSE(first.demonstration);
    EXPECT_FALSE(first.value.has_value());
    EXPECT_FALSE(first.low.has_value());
    EXPECT_EQ(first.high, 0.0);
    EXPECT_EQ(first.verdict, "incomplete");
    const CheckValue& second = values.value[1];
    EXPECT_EQ(second.value, 3.0);
    EXPECT_EQ(second.limitsRevision, "2026-12-09");
    EXPECT_TRUE(second.demonstration);

    const auto onlyFailed =
        store_->checkValues("cal.a2.height", filterOf([&](RunFilter& f) { f.outcome = "fail"; }));
    ASSERT_EQ(onlyFailed.value.size(), 1u);
    EXPECT_EQ(onlyFailed.value[0].verdict, "fail");
    EXPECT_TRUE(store_->checkValues("no.such.check", {}).value.empty());
}

TEST_P(StoreContract, AttemptsOfASerialNumberNameTheirFailedChecks) {
    RunRecord failed = sampleRun("00000000-0000-4000-8000-000000000021", "SN-9", kMonday, "fail");
    failed.attempt = 1;
    failed.retestReason.clear();
    failed.checks[0].verdict = "fail";
    RunRecord passed = sampleRun("00000000-0000-4000-8000-000000000022", "SN-9", kMonday + kDay);
    RunRecord other = sampleRun("00000000-0000-4000-8000-000000000023", "SN-8", kMonday, "fail");
    storeAll({passed, other, failed});

    const auto attempts = store_->attempts("SN-9");
    ASSERT_TRUE(attempts.ok()) << attempts.error;
    ASSERT_EQ(attempts.value.size(), 2u);
    EXPECT_EQ(attempts.value[0].runUuid, failed.uuid);
    EXPECT_EQ(attempts.value[0].outcome, "fail");
    EXPECT_EQ(attempts.value[0].attempt, 1);
    EXPECT_EQ(attempts.value[0].station, "bench-2");
    EXPECT_EQ(attempts.value[0].startedAt.toMSecsSinceEpoch(), kMonday);
    EXPECT_EQ(attempts.value[0].failedChecks,
              (std::vector<std::string>{"rate.s1", "cal.a2.height"}));
    EXPECT_EQ(attempts.value[1].runUuid, passed.uuid);
    EXPECT_EQ(attempts.value[1].retestReason, "fixture cable replaced");
    EXPECT_TRUE(attempts.value[1].failedChecks.empty());
    EXPECT_TRUE(store_->attempts("SN-unknown").value.empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreContract, ::testing::ValuesIn(kBackends),
                         [](const auto& backend) { return std::string(backend.param.name); });

TEST(MemoryResultsStore, FailsEveryCallWhileToldTo) {
    MemoryResultsStore store;
    store.failWith("disk on fire");
    EXPECT_EQ(store.store(sampleRun("x", "SN", kMonday)).error, "disk on fire");
    EXPECT_EQ(store.runs({}).error, "disk on fire");
    EXPECT_EQ(store.size(), 0u);
    store.failWith({});
    EXPECT_EQ(store.store(sampleRun("x", "SN", kMonday)).status, StoreStatus::Stored);
}

}  // namespace
}  // namespace vitalon::results
