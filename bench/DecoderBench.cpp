// Decoder throughput: the module's own stream and a stream of nothing but markers.
#include <benchmark/benchmark.h>

#include "StreamDecoder.h"
#include "Streams.h"

namespace vitalon::bench {
namespace {

// Takes every call the decoder makes and does nothing with it but keep the
// compiler from dropping it: the figures are the decoder's own cost. (A sink
// that summed the values would add a chain of memory round trips of its own.)
class NullListener : public StreamListener {
public:
    void onSample(std::uint8_t sample) override { benchmark::DoNotOptimize(sample); }
    void onPulse(std::uint8_t rate) override { benchmark::DoNotOptimize(rate); }
    void onRespiration(std::uint8_t rate) override { benchmark::DoNotOptimize(rate); }
    void onStatus(std::uint8_t code) override { benchmark::DoNotOptimize(code); }
    void onPulseMarker() override { benchmark::ClobberMemory(); }
};

// Path::Read decodes the stream as the link hands it over, a chunk at a time
// through receive(); Path::Byte calls decodeByte once per byte from outside.
enum class Path { Read, Byte };

void decodeAll(benchmark::State& state, const std::vector<std::uint8_t>& stream, Path path) {
    StreamDecoder decoder;
    NullListener listener;
    decoder.addListener(listener);
    for (auto _ : state) {
        if (path == Path::Read) {
            decoder.receive(stream);
        } else {
            for (std::uint8_t b : stream) {
                decoder.decodeByte(b);
            }
        }
        benchmark::DoNotOptimize(decoder.expectsPulse());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
}

const std::vector<std::uint8_t>& module() {
    static const std::vector<std::uint8_t> stream = moduleStream(60.0);
    return stream;
}

// Every byte a marker and a value, in a random order: the worst case.
const std::vector<std::uint8_t>& markersRandom() {
    static const std::vector<std::uint8_t> stream = allMarkers(1u << 16);
    return stream;
}

// Every byte a marker and a value, 249, 250, 251 over and over.
const std::vector<std::uint8_t>& markersCycle() {
    static const std::vector<std::uint8_t> stream = repeated({249, 250, 251}, 1u << 16);
    return stream;
}

void BM_Decode_ModuleStream(benchmark::State& state) {
    decodeAll(state, module(), Path::Read);
}
void BM_Decode_AllMarkersRandom(benchmark::State& state) {
    decodeAll(state, markersRandom(), Path::Read);
}
void BM_Decode_AllMarkersCycle(benchmark::State& state) {
    decodeAll(state, markersCycle(), Path::Read);
}
void BM_DecodeByte_ModuleStream(benchmark::State& state) {
    decodeAll(state, module(), Path::Byte);
}
void BM_DecodeByte_AllMarkersRandom(benchmark::State& state) {
    decodeAll(state, markersRandom(), Path::Byte);
}
BENCHMARK(BM_Decode_ModuleStream);
BENCHMARK(BM_Decode_AllMarkersRandom);
BENCHMARK(BM_Decode_AllMarkersCycle);
BENCHMARK(BM_DecodeByte_ModuleStream);
BENCHMARK(BM_DecodeByte_AllMarkersRandom);

}  // namespace
}  // namespace vitalon::bench

BENCHMARK_MAIN();
