// The module the program serves itself on COM1 (--simulate, --replay), as the
// station takes it.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <stdexcept>

#include "Fakes.h"
#include "ServedModule.h"
#include "Station.h"

namespace vitalon {
namespace {

TEST(ServedModule, ARecordingThatCannotBeReadIsRefusedWithTheReason) {
    QTemporaryDir dir;
    const std::string missing = dir.filePath(QStringLiteral("none.edf")).toStdString();
    std::vector<std::string> notes;
    try {
        ServedModule::replay(missing, notes);
        FAIL() << "a missing recording was served";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("none.edf"), std::string::npos) << e.what();
    }
}

TEST(ServedModule, TheModelOnComOneMakesATestThereADemonstration) {
    const std::unique_ptr<ServedModule> served = ServedModule::simulation();
    EXPECT_FALSE(served->isReplay());
    EXPECT_EQ(served->replayRate(), 0);
    EXPECT_EQ(served->device().description, "simulated TR71010 module");

    auto fake = std::make_unique<testing::FakeLink>();
    fake->openable = {served->device().path, "/dev/other"};
    PortAssignment ports;
    ports[0] = served->device();
    ports[1] = PortDevice{"/dev/other", {}};
    Station station(std::move(fake), std::make_unique<FakeDeviceIdentityProvider>(), ports);
    station.reconnect().disableForThisRun();
    served->serve(station);
    station.start();
    EXPECT_TRUE(station.servesSimulatedModule());
    EXPECT_TRUE(station.onSimulatedModule());
    station.pickPort(2);
    EXPECT_FALSE(station.onSimulatedModule());  // a real port: a module result again
    EXPECT_FALSE(station.recording().replaying());
}

}  // namespace
}  // namespace vitalon
