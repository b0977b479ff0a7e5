#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <thread>

#include <gtest/gtest.h>

#include "EventLoopWait.h"
#include "MemoryResultsStore.h"
#include "PostgresBackend.h"
#include "ResultsSync.h"
#include "SampleRuns.h"

namespace vitalon::results {
namespace {

using testing::sampleRun;
using testing::serverAddressOf;

constexpr qint64 kMonday = 1'796'716'800'000;  // 2026-12-07 00:00 UTC

// What the sync reported, round by round.
struct Rounds {
    explicit Rounds(ResultsSync& sync) {
        QObject::connect(&sync, &ResultsSync::roundFinished,
                         [this](int sent, int queued, const QString& error) {
                             all.push_back({sent, queued, error.toStdString()});
                         });
        QObject::connect(&sync, &ResultsSync::queueLengthChanged,
                         [this](int length) { lengths.push_back(length); });
    }
    // Waits for the next round; the bound only ends a broken test.
    SyncRound next(ResultsSync& sync) {
        const std::size_t before = all.size();
        sync.syncNow();
        EXPECT_TRUE(testing::waitFor([&] { return all.size() > before; }, 60'000));
        return all.size() > before ? all.back() : SyncRound{-1, -1, "no round"};
    }
    std::vector<SyncRound> all;
    std::vector<int> lengths;
};

// A TCP port on this machine that takes connections and never answers: what
// a hung server looks like to a client.
class SilentServer {
public:
    SilentServer() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(fd_, 8) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "cannot listen on the loopback";
        }
        port_ = ntohs(address.sin_port);
    }
    ~SilentServer() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    ServerAddress address() const {
        return {"vitalon", "never-shown-pw", "127.0.0.1", port_, "results"};
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

class SendQueued : public ::testing::Test {
protected:
    void SetUp() override {
        auto opened = SqlResultsStore::openLocal(localFile());
        ASSERT_NE(opened.store, nullptr) << opened.error;
        local_ = std::move(opened.store);
    }
    QString localFile() const { return folder_.filePath(QStringLiteral("results.sqlite")); }

    QTemporaryDir folder_;
    std::unique_ptr<SqlResultsStore> local_;
};

TEST_F(SendQueued, SendsOldestFirstAndStopsAtTheFirstRefusal) {
    for (const char* uuid : {"s1", "s2", "s3"}) {
        ASSERT_EQ(local_->store(sampleRun(uuid, "SN", kMonday)).status, StoreStatus::Stored);
    }
    MemoryResultsStore server;
    server.failWith("server went away");
    const SyncRound refused = sendQueued(*local_, server);
    EXPECT_EQ(refused.sent, 0);
    EXPECT_EQ(refused.queued, 3);
    EXPECT_EQ(refused.error, "server went away");

    server.failWith({});
    const SyncRound sent = sendQueued(*local_, server);
    EXPECT_EQ(sent.sent, 3);
    EXPECT_EQ(sent.queued, 0);
    EXPECT_EQ(sent.error, "");
    ASSERT_EQ(server.runs({}).value.size(), 3u);
    EXPECT_EQ(*server.run("s2").value, *local_->run("s2").value);
}

TEST_F(SendQueued, ARunTheServerAlreadyHasIsMarkedSentNotDuplicated) {
    const RunRecord run = sampleRun("dup", "SN", kMonday);
    ASSERT_EQ(local_->store(run).status, StoreStatus::Stored);
    MemoryResultsStore server;
    ASSERT_EQ(server.store(run).status, StoreStatus::Stored);  // sent, but the mark was lost
    const SyncRound round = sendQueued(*local_, server);
    EXPECT_EQ(round.sent, 1);
    EXPECT_EQ(round.queued, 0);
    EXPECT_EQ(server.size(), 1u);
}

TEST_F(SendQueued, ServerThatDoesNotAnswerNeverHoldsUpTheEventLoop) {
    ASSERT_EQ(local_->store(sampleRun("q", "SN", kMonday)).status, StoreStatus::Stored);
    const SilentServer silent;
    ResultsSync sync(localFile(), silent.address(), 1);
    Rounds rounds(sync);
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    sync.syncNow();
    ASSERT_TRUE(testing::waitFor([&] { return !rounds.all.empty(); }, 60'000));
    // The loop kept turning while the worker waited for the server.
    EXPECT_GT(ticks, 5);
    EXPECT_EQ(rounds.all[0].sent, 0);
    EXPECT_EQ(rounds.all[0].queued, 1);
    EXPECT_NE(rounds.all[0].error.find("cannot connect"), std::string::npos) << rounds.all[0].error;
    EXPECT_EQ(rounds.all[0].error.find("never-shown-pw"), std::string::npos);
    EXPECT_EQ(sync.queueLength(), 1);
    EXPECT_EQ(rounds.lengths, std::vector<int>{1});
    EXPECT_EQ(local_->unsentCount().value, 1);
}

TEST(ServerStore, MissingServerOrSilentServerGivesAClearMessageAndReturns) {
    const QTemporaryDir empty;
    const auto none = SqlResultsStore::openServer(serverAddressOf(
        "postgresql://vitalon:pw-abc-123@/results?host=" + empty.path().toStdString()));
    EXPECT_EQ(none.store, nullptr);
    EXPECT_NE(none.error.find("results database postgresql://vitalon:***@/results"),
              std::string::npos)
        << none.error;
    EXPECT_NE(none.error.find("cannot connect"), std::string::npos) << none.error;
    EXPECT_EQ(none.error.find("pw-abc-123"), std::string::npos) << none.error;

    const SilentServer silent;
    const auto hung = SqlResultsStore::openServer(silent.address(), 1);
    EXPECT_EQ(hung.store, nullptr);
    EXPECT_NE(hung.error.find("cannot connect"), std::string::npos) << hung.error;
    EXPECT_EQ(hung.error.find("never-shown-pw"), std::string::npos) << hung.error;
}

class OnPostgres : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = testing::postgresMissing();
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
    }
};

TEST_F(OnPostgres, RefusedLoginIsSaidWithoutEitherPassword) {
    testing::PostgresServer& server = testing::sharedPostgres();
    const std::string address = testing::freshPostgresDatabase(server);
    ASSERT_FALSE(address.empty());
    ServerAddress wrong = serverAddressOf(address);
    wrong.password = "wrong-pw-4711";
    const auto refused = SqlResultsStore::openServer(wrong);
    EXPECT_EQ(refused.store, nullptr);
    EXPECT_NE(refused.error.find("password authentication failed"), std::string::npos)
        << refused.error;
    EXPECT_EQ(refused.error.find("wrong-pw-4711"), std::string::npos) << refused.error;
    EXPECT_EQ(refused.error.find(testing::PostgresServer::kPassword), std::string::npos);
}

TEST_F(OnPostgres, ServerSchemaNewerThanOursLeavesRunsQueued) {
    testing::PostgresServer& server = testing::sharedPostgres();
    const std::string address = testing::freshPostgresDatabase(server);
    ASSERT_FALSE(address.empty());
    { ASSERT_NE(SqlResultsStore::openServer(serverAddressOf(address)).store, nullptr); }
    const int newer = SqlResultsStore::kSchemaVersion + 1;
    testing::execOnServer(address,
                          {QStringLiteral("UPDATE schema_version SET version = %1").arg(newer)});

    const QTemporaryDir folder;
    auto local = SqlResultsStore::openLocal(folder.filePath(QStringLiteral("r.sqlite")));
    ASSERT_NE(local.store, nullptr) << local.error;
    ASSERT_EQ(local.store->store(sampleRun("later", "SN", kMonday)).status, StoreStatus::Stored);
    auto opened = SqlResultsStore::openServer(serverAddressOf(address));
    ASSERT_NE(opened.store, nullptr) << opened.error;
    EXPECT_FALSE(opened.store->writable());
    const SyncRound round = sendQueued(*local.store, *opened.store);
    EXPECT_EQ(round.sent, 0);
    EXPECT_EQ(round.queued, 1);
    EXPECT_NE(round.error.find("schema version " + std::to_string(newer) + " is newer"),
              std::string::npos)
        << round.error;
    EXPECT_TRUE(opened.store->runs({}).value.empty());
}

// Four stations open a new server database at once: the schema is made once,
// and every run each of them stores is there once.
TEST_F(OnPostgres, StationsWritingAtOnceLoseNothing) {
    testing::PostgresServer& server = testing::sharedPostgres();
    const std::string address = testing::freshPostgresDatabase(server);
    ASSERT_FALSE(address.empty());
    constexpr int kStations = 4;
    constexpr int kRunsEach = 10;
    std::vector<std::string> errors(kStations);
    std::vector<std::thread> stations;
    for (int s = 0; s < kStations; ++s) {
        stations.emplace_back([&, s] {
            auto opened = SqlResultsStore::openServer(serverAddressOf(address));
            if (!opened.store) {
                errors[s] = opened.error;
                return;
            }
            for (int i = 0; i < kRunsEach; ++i) {
                const std::string uuid = "st" + std::to_string(s) + "-" + std::to_string(i);
                const StoreResult result = opened.store->store(sampleRun(uuid, "SN", kMonday));
                if (result.status != StoreStatus::Stored) {
                    errors[s] = uuid + ": " + result.error;
                    return;
                }
            }
        });
    }
    for (std::thread& station : stations) {
        station.join();
    }
    for (const std::string& error : errors) {
        EXPECT_EQ(error, "");
    }
    auto opened = SqlResultsStore::openServer(serverAddressOf(address));
    ASSERT_NE(opened.store, nullptr) << opened.error;
    EXPECT_EQ(opened.store->schemaVersion(), SqlResultsStore::kSchemaVersion);
    EXPECT_EQ(opened.store->runs({}).value.size(), std::size_t{kStations * kRunsEach});
    EXPECT_EQ(opened.store->checkValues("rate.s1", {}).value.size(),
              std::size_t{kStations * kRunsEach});
}

// The whole way: runs kept locally, the server stopped between two runs and
// started again, a lost sent mark, and the server ends up with each run once,
// as it was stored.
TEST_F(OnPostgres, ServerStoppedMidwayKeepsRunsQueuedAndSendsEachOnceAfterRestart) {
    testing::PostgresServer server;
    ASSERT_TRUE(server.error().empty()) << server.error();
    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_TRUE(server.createDatabase("fleet")) << server.error();
    const ServerAddress address = serverAddressOf(server.address("fleet"));

    const QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("local.sqlite"));
    auto local = SqlResultsStore::openLocal(file);
    ASSERT_NE(local.store, nullptr) << local.error;
    ResultsSync sync(file, address, 2);
    Rounds rounds(sync);

    const RunRecord first = sampleRun("11111111-0000-4000-8000-000000000001", "SN-1", kMonday);
    ASSERT_EQ(local.store->store(first).status, StoreStatus::Stored);
    const SyncRound up = rounds.next(sync);
    EXPECT_EQ(up.sent, 1) << up.error;
    EXPECT_EQ(up.queued, 0);

    ASSERT_TRUE(server.stop()) << server.error();
    const RunRecord second =
        sampleRun("11111111-0000-4000-8000-000000000002", "SN-2", kMonday + 60'000, "fail");
    ASSERT_EQ(local.store->store(second).status, StoreStatus::Stored);
    const SyncRound down = rounds.next(sync);
    EXPECT_EQ(down.sent, 0);
    EXPECT_EQ(down.queued, 1);
    EXPECT_NE(down.error.find("cannot connect"), std::string::npos) << down.error;
    EXPECT_EQ(down.error.find(testing::PostgresServer::kPassword), std::string::npos);
    EXPECT_EQ(sync.queueLength(), 1);
    EXPECT_EQ(local.store->run(second.uuid).value, second);  // kept

    ASSERT_TRUE(server.start()) << server.error();
    const SyncRound back = rounds.next(sync);
    EXPECT_EQ(back.sent, 1) << back.error;
    EXPECT_EQ(back.queued, 0);
    EXPECT_EQ(rounds.lengths, (std::vector<int>{0, 1, 0}));

    // Sent, but the marks were lost (the program ended before writing them):
    // sending again adds nothing.
    ASSERT_EQ(local.store->unsentCount().value, 0);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "unmark");
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("UPDATE runs SET sent = 0")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("unmark"));
    const SyncRound again = rounds.next(sync);
    EXPECT_EQ(again.sent, 2) << again.error;
    EXPECT_EQ(again.queued, 0);

    auto shared = SqlResultsStore::openServer(address);
    ASSERT_NE(shared.store, nullptr) << shared.error;
    const auto onServer = shared.store->runs({});
    ASSERT_EQ(onServer.value.size(), 2u) << onServer.error;
    EXPECT_EQ(shared.store->run(first.uuid).value, first);
    EXPECT_EQ(shared.store->run(second.uuid).value, second);
}

}  // namespace
}  // namespace vitalon::results
