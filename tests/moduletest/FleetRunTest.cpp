#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "ChildSpawn.h"
#include "PostgresServer.h"
#include "PtyPair.h"
#include "SimProcess.h"

// Four test stations at once: four `vitalon --module-test` processes, each on
// its own port with its own `vitalon-sim`, in real time, all filing into one
// SQLite store (one user's data folder) and sending to one PostgreSQL server.
// Nothing may be lost and nothing stored twice.
namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kStations = 4;

fs::path makeTempDir(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() /
        (name + "-" + std::to_string(::getpid()) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    return dir;
}

// One user's folders: the results store and the remembered settings.
struct UserFolders {
    fs::path root = makeTempDir("vitalon-fleet-user");
    ~UserFolders() { fs::remove_all(root); }
    std::vector<std::pair<std::string, std::string>> env() const {
        return {{"XDG_DATA_HOME", (root / "data").string()},
                {"XDG_CONFIG_HOME", (root / "config").string()},
                {"QT_QPA_PLATFORM", "no-such-platform"},
                {"DISPLAY", ""}};
    }
};

using Ran = testing::FinishedRun;

Ran runVitalon(const UserFolders& user, const std::vector<std::string>& args) {
    return testing::runToEnd(VITALON_EXE, args, user.env());
}

struct Station {
    Station(int number, const UserFolders& user, const std::string& server)
        : serial("SN-FLEET-" + std::to_string(number)),
          reportDir(makeTempDir("vitalon-fleet-" + std::to_string(number))),
          sim(std::vector<std::string>{}),
          vitalon(VITALON_EXE,
                  // A limits file of its own: a pass under the built-in limits proves
                  // nothing about a module and would not ask for a retest reason.
                  {"--module-test", "--serial", serial, "--operator", "CI bench", "--report-dir",
                   reportDir.string(), "--port", "COM1=" + sim.devicePath(), "--limits",
                   VITALON_MODEL_LIMITS, "--results-db", server},
                  options(user)) {}
    ~Station() { fs::remove_all(reportDir); }

    static ChildOptions options(const UserFolders& user) {
        ChildOptions options;
        options.captureStderr = true;
        options.env = user.env();
        return options;
    }

    std::string serial;
    fs::path reportDir;
    SimProcess sim;
    ChildProcess vitalon;
};

// The runs a `--results --format json` printed, by serial number.
std::map<std::string, nlohmann::json> runsBySerial(const Ran& ran) {
    std::map<std::string, nlohmann::json> runs;
    const nlohmann::json document = nlohmann::json::parse(ran.out, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << ran.out.substr(0, 400) << ran.err;
    if (document.is_discarded()) {
        return runs;
    }
    for (const nlohmann::json& run : document["runs"]) {
        const std::string serial = run["serialNumber"];
        EXPECT_EQ(runs.count(serial), 0u) << serial << " stored twice";
        runs[serial] = run;
    }
    return runs;
}

TEST(FleetRun, FourStationsAtOnceFileEveryRunOnceLocallyAndOnTheServer) {
    if (PostgresServer::programFolder().empty()) {
        GTEST_SKIP() << "PostgreSQL is not installed (no initdb and pg_ctl): skipped";
    }
    PostgresServer server;
    ASSERT_TRUE(server.error().empty()) << server.error();
    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_TRUE(server.createDatabase("fleet")) << server.error();
    const std::string address = server.address("fleet");
    const UserFolders user;

    const auto started = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<Station>> stations;
    for (int i = 1; i <= kStations; ++i) {
        stations.push_back(std::make_unique<Station>(i, user, address));
    }
    std::map<std::string, int> exitCodes;
    for (const auto& station : stations) {
        const int code = station->vitalon.waitExit(300s);
        const std::string errors = station->vitalon.stderrText();
        // A verdict either way: what matters here is that it is filed.
        EXPECT_TRUE(code == 0 || code == 1) << station->serial << " exit " << code << "\n"
                                            << errors;
        EXPECT_NE(errors.find("module test of " + station->serial + ": "), std::string::npos)
            << errors;
        EXPECT_EQ(errors.find(PostgresServer::kPassword), std::string::npos) << errors;
        exitCodes[station->serial] = code;
    }
    std::printf("four stations took %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());

    const std::map<std::string, nlohmann::json> local =
        runsBySerial(runVitalon(user, {"--results", "--format", "json"}));
    const std::map<std::string, nlohmann::json> shared =
        runsBySerial(runVitalon(user, {"--results", "--results-db", address, "--format", "json"}));
    ASSERT_EQ(local.size(), static_cast<std::size_t>(kStations));
    ASSERT_EQ(shared.size(), static_cast<std::size_t>(kStations));
    std::set<std::string> uuids;
    for (const auto& [serial, run] : local) {
        ASSERT_EQ(shared.count(serial), 1u) << serial;
        const nlohmann::json& sent = shared.at(serial);
        uuids.insert(run["uuid"].get<std::string>());
        EXPECT_EQ(sent["uuid"], run["uuid"]) << serial;
        EXPECT_EQ(run["outcome"], exitCodes[serial] == 0 ? "pass" : "fail") << serial;
        EXPECT_EQ(sent["outcome"], run["outcome"]) << serial;
        EXPECT_EQ(run["attempt"], 1) << serial;
        EXPECT_GT(run["checks"].size(), 20u) << serial;
        EXPECT_EQ(sent["checks"].size(), run["checks"].size()) << serial;
        EXPECT_EQ(sent["checks"], run["checks"]) << serial;
    }
    EXPECT_EQ(uuids.size(), static_cast<std::size_t>(kStations));

    // Every run went to the server already: a further send has nothing to do.
    const Ran sync = runVitalon(user, {"--results-sync"});
    EXPECT_EQ(sync.exitCode, 0) << sync.err;
    EXPECT_NE(sync.err.find("0 runs sent"), std::string::npos) << sync.err;

    // A serial number that passed is not tested again without a reason: refused
    // before the port is touched (a silent one, so a run that starts ends soon).
    PtyPair silent;
    for (const auto& [serial, code] : exitCodes) {
        if (code != 0) {
            continue;
        }
        const Ran again =
            runVitalon(user, {"--module-test", "--serial", serial, "--operator", "CI bench",
                              "--report-dir", user.root.string(), "--limits", VITALON_MODEL_LIMITS,
                              "--port", "COM1=" + silent.slavePath()});
        EXPECT_EQ(again.exitCode, 2) << again.err;
        EXPECT_NE(again.err.find("--retest-reason"), std::string::npos) << again.err;
        break;
    }
}

}  // namespace
}  // namespace vitalon::testing
