// What recording costs: the decoder alone against the decoder feeding the EDF+
// recorder, one second of stream per iteration, at the module's 300 samples a
// second and at a flood of 96,000 bytes a second. Each iteration ends with the
// host's once-a-second clock call, so the flush (to the kernel and the disk)
// is in the figure. CPU time per iteration is the share of a core; the
// difference between the two is the recording's cost.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "EdfRecorder.h"
#include "StreamDecoder.h"
#include "Streams.h"

namespace vitalon::bench {
namespace {

using recording::EdfRecorder;

// One second of stream at `bytesPerSecond`, cut from the module model's.
std::vector<std::uint8_t> secondOf(std::size_t bytesPerSecond) {
    static const std::vector<std::uint8_t> module = moduleStream(60.0);
    return repeated(module, bytesPerSecond);
}

void run(benchmark::State& state, std::size_t bytesPerSecond, bool record) {
    const auto second = secondOf(bytesPerSecond);
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vitalon-bench-XXXXXX").string();
    const std::filesystem::path dir = mkdtemp(pattern.data());
    StreamDecoder decoder;
    EdfRecorder recorder;
    auto now = EdfRecorder::Clock::time_point{} + std::chrono::hours(1);
    auto begin = [&] {
        recording::RecordingSetup setup;
        setup.path = (dir / "bench.edf").string();
        setup.samplesPerSecond = 300;
        recorder.start(setup, now);
    };
    if (record) {
        begin();
        decoder.addListener(recorder);
    }
    int seconds = 0;
    for (auto _ : state) {
        decoder.receive(second);
        now += std::chrono::seconds(1);
        recorder.advanceTime(now);
        if (record && ++seconds == 60) {  // a new file each minute keeps the disk use small
            state.PauseTiming();
            recorder.stop();
            begin();
            seconds = 0;
            state.ResumeTiming();
        }
    }
    if (!recorder.error().empty()) {
        state.SkipWithError(recorder.error().c_str());
    }
    recorder.stop();
    std::filesystem::remove_all(dir);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * second.size()));
}

void DecodeOnly300(benchmark::State& state) {
    run(state, 300, false);
}
void Record300(benchmark::State& state) {
    run(state, 300, true);
}
void DecodeOnly96000(benchmark::State& state) {
    run(state, 96'000, false);
}
void Record96000(benchmark::State& state) {
    run(state, 96'000, true);
}

BENCHMARK(DecodeOnly300)->Unit(benchmark::kMicrosecond);
BENCHMARK(Record300)->Unit(benchmark::kMicrosecond);
BENCHMARK(DecodeOnly96000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Record96000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vitalon::bench

BENCHMARK_MAIN();
