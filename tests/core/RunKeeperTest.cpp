// Finished module tests filed in the results store: before the verdict is
// shown, with their checks, report files and retest reason; a store that
// fails is said and never taken for success.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Fakes.h"
#include "MemoryResultsStore.h"
#include "ModuleModel.h"
#include "ModuleTestPreparation.h"
#include "RunKeeper.h"
#include "Station.h"

namespace vitalon {
namespace {

using std::chrono::milliseconds;
using testing::FakeLink;

constexpr const char* kDevice = "/dev/fake-module";

// A run on a fake link in virtual time against the module model, cancelled
// after a few seconds: the shortest run that ends with a report.
struct FiledRun {
    explicit FiledRun(results::ResultsStore* store, std::string retestReason = {}) {
        auto fake = std::make_unique<FakeLink>();
        link = fake.get();
        link->openable = {kDevice};
        PortAssignment ports;
        ports[0] = PortDevice{kDevice, "fake module"};
        station = std::make_unique<Station>(std::move(fake),
                                            std::make_unique<FakeDeviceIdentityProvider>(), ports);
        QObject::connect(station.get(), &Station::statusReported,
                         [this](const QString& text) { statuses.push_back(text.toStdString()); });
        station->reconnect().disableForThisRun();
        station->watchdogTimer().stop();
        station->start();
        station->setClock([this] { return now; });
        station->setResultsStore([store] { return store; });
        PreparedModuleTest prepared =
            prepareModuleTest({"SN-FILED", "Ann", "", dir.path().toStdString()});
        EXPECT_TRUE(prepared.ok());
        prepared.setup.retestReason = std::move(retestReason);
        session = station->makeModuleTest(prepared.setup);
        QObject::connect(session.get(), &ModuleTestSession::finished, [this, store] {
            finished = true;
            // What a front end finds when it shows the verdict.
            storedAtVerdict = store != nullptr ? store->runs({}).value.size() : 0;
        });
    }

    void runAndCancel() {
        ASSERT_TRUE(session->start()) << session->error().toStdString();
        pass(std::chrono::seconds(5));
        session->cancel();
        pass(std::chrono::seconds(30));
        ASSERT_TRUE(finished);
    }

    void pass(std::chrono::milliseconds span) {
        std::vector<std::uint8_t> bytes;
        for (auto left = span; left.count() > 0 && !finished; left -= milliseconds(20)) {
            now += milliseconds(20);
            for (; forwarded < link->writes.size(); ++forwarded) {
                model.receive(link->writes[forwarded]);
            }
            bytes.clear();
            model.advance(milliseconds(20), bytes);
            link->receive(bytes, now);
        }
    }

    std::vector<std::string> statuses;
    QTemporaryDir dir;
    FakeLink* link = nullptr;
    std::unique_ptr<Station> station;
    sim::ModuleModel model{sim::Scenario{}};
    ArrivalTime now = ArrivalClock::now();
    std::size_t forwarded = 0;
    std::unique_ptr<ModuleTestSession> session;
    bool finished = false;
    std::size_t storedAtVerdict = 0;
};

TEST(RunKeeper, AFinishedRunIsFiledBeforeItsVerdictIsShown) {
    results::MemoryResultsStore store;
    FiledRun run(&store, "fixture cable replaced");
    run.runAndCancel();
    EXPECT_EQ(run.storedAtVerdict, 1u);
    EXPECT_TRUE(run.session->keepError().isEmpty());

    const auto runs = store.runs({});
    ASSERT_EQ(runs.value.size(), 1u);
    const auto whole = store.run(runs.value[0].uuid);
    ASSERT_TRUE(whole.ok() && whole.value);
    const results::RunRecord& filed = *whole.value;
    EXPECT_EQ(filed.serialNumber, "SN-FILED");
    EXPECT_EQ(filed.operatorName, "Ann");
    EXPECT_EQ(filed.outcome, "incomplete");
    EXPECT_EQ(filed.retestReason, "fixture cable replaced");
    EXPECT_FALSE(filed.checks.empty());
    // The report's three files, each with the SHA-256 of what is on disk.
    std::vector<std::string> kinds;
    for (const results::AttachmentRecord& file : filed.attachments) {
        kinds.push_back(file.kind);
        if (file.kind == "pdf" || file.kind == "html" || file.kind == "json") {
            EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(file.path))) << file.path;
            EXPECT_EQ(file.sha256.size(), 64u) << file.path;
        }
    }
    for (const char* kind : {"pdf", "html", "json"}) {
        EXPECT_NE(std::find(kinds.begin(), kinds.end(), kind), kinds.end()) << kind;
    }
}

TEST(RunKeeper, AStoreThatFailsIsSaidAndTheRunKeepsItsReport) {
    results::MemoryResultsStore store;
    store.failWith("disk full");
    FiledRun run(&store);
    run.runAndCancel();
    EXPECT_NE(run.session->keepError().toStdString().find("disk full"), std::string::npos);
    EXPECT_TRUE(run.session->reportResult().ok);
    EXPECT_TRUE(std::any_of(run.statuses.begin(), run.statuses.end(), [](const std::string& s) {
        return s.find("not filed in the results store") != std::string::npos;
    }));
}

TEST(RunKeeper, AStoreThatCannotBeOpenedIsSaid) {
    FiledRun run(nullptr);
    run.runAndCancel();
    EXPECT_FALSE(run.session->keepError().isEmpty());
    EXPECT_TRUE(run.session->reportResult().ok);
}

TEST(RunKeeper, TheStoreNumbersTheAttemptsOfASerialNumber) {
    results::MemoryResultsStore store;
    for (int attempt = 1; attempt <= 2; ++attempt) {
        FiledRun run(&store);
        run.runAndCancel();
    }
    const auto runs = store.runs({});
    ASSERT_EQ(runs.value.size(), 2u);
    EXPECT_EQ(runs.value[0].attempt, 1);
    EXPECT_EQ(runs.value[1].attempt, 2);  // each run had its own report folder
}

results::RunRecord storedRun(const std::string& uuid, const std::string& serial,
                             const std::string& outcome, bool demonstration) {
    results::RunRecord run;
    run.uuid = uuid;
    run.serialNumber = serial;
    run.outcome = outcome;
    run.demonstration = demonstration;
    run.startedAt = QDateTime::fromMSecsSinceEpoch(1'765'000'000'000);
    return run;
}

TEST(RunKeeper, AttemptsAndEarlierPassesComeFromTheStore) {
    results::MemoryResultsStore store;
    EXPECT_EQ(storedAttempt(store, "SN-A"), 1);
    EXPECT_FALSE(passedBefore(store, "SN-A").value);

    store.store(storedRun("u1", "SN-A", "fail", false));
    store.store(storedRun("u2", "SN-A", "pass", true));  // on the simulated module: no proof
    store.store(storedRun("u3", "SN-B", "pass", false));
    EXPECT_EQ(storedAttempt(store, "SN-A"), 3);
    EXPECT_FALSE(passedBefore(store, "SN-A").value);
    EXPECT_TRUE(passedBefore(store, "SN-B").value);

    store.failWith("locked");
    EXPECT_FALSE(storedAttempt(store, "SN-A"));
    const results::Answer<bool> unknown = passedBefore(store, "SN-B");
    EXPECT_FALSE(unknown.ok());
    EXPECT_NE(unknown.error.find("locked"), std::string::npos);
}

}  // namespace
}  // namespace vitalon
