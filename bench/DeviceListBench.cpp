// The cost of watching for a serial device: one check of the system's device
// list, bare and through the identity provider, and one second's work of the
// reconnect watch and the port-item watch together, with the device away.
#include <benchmark/benchmark.h>

#include <QSerialPortInfo>
#include <filesystem>
#include <fstream>

#include "HotplugPorts.h"
#include "ReconnectWatcher.h"
#include "SerialDeviceIdentity.h"

namespace vitalon::bench {
namespace {

// What the provider's cache saves: the system's list read every time.
void BM_SystemDeviceList(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(QSerialPortInfo::availablePorts());
    }
}

// The provider's list while no device node comes or goes.
void BM_PresentDevicesUnchanged(benchmark::State& state) {
    SerialDeviceIdentityProvider devices;
    devices.presentDevices();
    for (auto _ : state) {
        benchmark::DoNotOptimize(devices.presentDevices());
    }
    state.counters["list reads"] = devices.listReads();
}

// One second of watching for a lost device that is still away: one reconnect
// check (a port named directly is looked for at its path only; an adapter
// would also be looked for in the list) and one port-item check (the list).
void BM_WatchOneSecondDeviceAway(benchmark::State& state) {
    SerialDeviceIdentityProvider devices;
    // A plain file stands for the device: known by its path while it is there.
    const std::filesystem::path device =
        std::filesystem::temp_directory_path() / "vitalon-bench-device";
    std::ofstream(device).put('\n');
    ReconnectWatcher watcher(devices, [](const std::string&) {});
    watcher.linkOpened(1, device.string());
    HotplugPorts ports(devices, PortAssignment{});
    std::filesystem::remove(device);

    auto now = ReconnectWatcher::Clock::time_point{};
    watcher.linkLost(now);
    for (auto _ : state) {
        now += ReconnectWatcher::checkInterval;
        benchmark::DoNotOptimize(watcher.tick(now));
        benchmark::DoNotOptimize(ports.tick(now));
    }
    if (!watcher.watching()) {
        state.SkipWithError("the watch ended");
    }
    state.counters["list reads"] = devices.listReads();
}

BENCHMARK(BM_SystemDeviceList)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PresentDevicesUnchanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WatchOneSecondDeviceAway)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vitalon::bench

BENCHMARK_MAIN();
