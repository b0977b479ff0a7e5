#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ModuleModel.h"
#include "ModuleServer.h"
#include "SimTestSupport.h"

namespace vitalon::sim {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> readAll(int fd) {
    std::vector<std::uint8_t> out;
    std::array<std::uint8_t, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) {
            return out;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
}

class ModuleServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(server_.devicePath().rfind("/dev/pts/", 0), 0u) << server_.devicePath();
    }

    ModuleServer server_;
    volatile std::sig_atomic_t stop_ = 0;
};

// The duration is simulated time, so the host gets exactly that much data.
TEST_F(ModuleServerTest, HostCommandsReachTheModelAndItsStreamReachesTheHost) {
    const int host = ::open(server_.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(host, 0);
    ASSERT_EQ(::write(host, "S0A2", 4), 4);
    ModuleModel model;
    ServeOptions options;
    options.duration = 300ms;
    const ServeStats stats = server_.serve(model, stop_, options);

    EXPECT_EQ(model.settings().samplesPerSecond, 300);
    EXPECT_EQ(model.settings().amplification, 2);
    EXPECT_EQ(stats.commandBytes, 4u);
    const auto received = readAll(host);
    EXPECT_EQ(received.size(), stats.bytesWritten);
    const auto stream = testing::decode(received);
    EXPECT_TRUE(stream.faults.empty());
    EXPECT_EQ(stream.samples.size(), 90u);
    ::close(host);
}

TEST_F(ModuleServerTest, WithNobodyOnTheDeviceItWaitsAndLeavesNoBacklog) {
    ModuleModel model;
    ServeOptions options;
    options.duration = 200ms;
    const ServeStats stats = server_.serve(model, stop_, options);
    // One wake-up per 10 ms period, not a busy loop on the hung-up master.
    EXPECT_LE(stats.wakeups, 40u);
    EXPECT_EQ(stats.bytesWritten, 0u);
    EXPECT_GT(stats.bytesDropped, 0u);

    const int host = ::open(server_.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(host, 0);
    EXPECT_TRUE(readAll(host).empty());
    ::close(host);
}

TEST_F(ModuleServerTest, WhatAHostLeftUnreadIsNotHandedToTheNextHost) {
    ModuleModel model;
    ServeOptions options;
    options.duration = 100ms;
    int host = ::open(server_.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(host, 0);
    EXPECT_GT(server_.serve(model, stop_, options).bytesWritten, 0u);
    ::close(host);  // without reading
    server_.serve(model, stop_, options);

    host = ::open(server_.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(host, 0);
    EXPECT_TRUE(readAll(host).empty());
    ::close(host);
}

TEST_F(ModuleServerTest, StopFlagEndsServingAtOnce) {
    stop_ = 1;
    ModuleModel model;
    const ServeStats stats = server_.serve(model, stop_);
    EXPECT_EQ(stats.wakeups, 0u);
    EXPECT_EQ(model.elapsed(), 0ns);
}

// Chunk k is 700 bytes of the value k: whatever the host receives must be
// whole chunks, in order, and what it does not receive must be counted.
TEST_F(ModuleServerTest, AHostThatStopsReadingLosesWholeChunksAndTheyAreCounted) {
    const int host = ::open(server_.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(host, 0);
    ModuleModel model;
    server_.readCommands(model);
    ASSERT_TRUE(server_.listening());

    constexpr std::size_t kChunk = 700;
    constexpr std::uint8_t kChunks = 200;  // far more than the line holds
    for (std::uint8_t k = 0; k < kChunks; ++k) {
        const std::vector<std::uint8_t> chunk(kChunk, k);
        server_.send(chunk);
    }
    EXPECT_GT(server_.stats().chunksDropped, 0u);
    std::vector<std::uint8_t> received = readAll(host);
    server_.send({});  // finishes a chunk the line took only in part
    const auto rest = readAll(host);
    received.insert(received.end(), rest.begin(), rest.end());

    const ServeStats& stats = server_.stats();
    EXPECT_EQ(received.size(), stats.bytesWritten);
    EXPECT_EQ(stats.bytesWritten + stats.bytesDropped, std::size_t{kChunk} * kChunks);
    EXPECT_EQ(stats.bytesDropped, stats.chunksDropped * kChunk);
    ASSERT_EQ(received.size() % kChunk, 0u);
    int last = -1;
    for (std::size_t at = 0; at < received.size(); at += kChunk) {
        const std::uint8_t k = received[at];
        EXPECT_GT(k, last);
        EXPECT_EQ(std::count(received.begin() + static_cast<std::ptrdiff_t>(at),
                             received.begin() + static_cast<std::ptrdiff_t>(at + kChunk), k),
                  static_cast<std::ptrdiff_t>(kChunk))
            << "chunk " << int(k) << " arrived in part";
        last = k;
    }
    ::close(host);
}

TEST(DeviceSymlink, ReplacesOnlyAnOldLinkAndRemovesOnlyItsOwn) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("vitalon-sim-link-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = (dir / "ecg").string();
    std::string error;
    {
        std::filesystem::create_symlink("/dev/null", path);  // left over from an earlier run
        DeviceSymlink link;
        ASSERT_TRUE(link.create(path, "/dev/pts/99", error)) << error;
        EXPECT_EQ(std::filesystem::read_symlink(path), "/dev/pts/99");
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
    {
        DeviceSymlink link;
        ASSERT_TRUE(link.create(path, "/dev/pts/99", error)) << error;
        // Somebody else took the path over meanwhile: leave theirs alone.
        std::filesystem::remove(path);
        std::filesystem::create_symlink("/dev/pts/7", path);
    }
    EXPECT_EQ(std::filesystem::read_symlink(path), "/dev/pts/7");
    std::filesystem::remove(path);
    {
        std::ofstream(path) << "not a link";
        DeviceSymlink link;
        EXPECT_FALSE(link.create(path, "/dev/pts/99", error));
        EXPECT_NE(error.find("not a symbolic link"), std::string::npos);
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vitalon::sim
