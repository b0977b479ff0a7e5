// plotSample on the real image-backed graph surface, and how often the graph
// repaints when samples come at a steady rate.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <string>

#include "GraphWidget.h"
#include "Streams.h"
#include "WaveformTrace.h"

namespace vitalon::bench {
namespace {

double paintSeconds = 5.0;  // length of each paint-rate run; --paint-seconds=N

const std::vector<std::int16_t>& moduleSamples() {
    static const std::vector<std::int16_t> samples = samplesOf(moduleStream(60.0));
    return samples;
}

// One iteration is one sample; the reported time is the time per sample.
void BM_PlotSample(benchmark::State& state) {
    GraphWidget graph;
    WaveformTrace trace(graph);
    const std::vector<std::int16_t>& samples = moduleSamples();
    std::size_t i = 0;
    for (auto _ : state) {
        trace.plotSample(samples[i]);
        if (++i == samples.size()) {
            i = 0;
        }
    }
    benchmark::DoNotOptimize(graph.image().constBits());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_PlotSample);

// Counts the graph's paints and the time spent in them.
class TimedGraph : public GraphWidget {
public:
    int paints = 0;
    qint64 paintNs = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        QElapsedTimer timer;
        timer.start();
        GraphWidget::paintEvent(event);
        paintNs += timer.nsecsElapsed();
        ++paints;
    }
};

// Samples at state.range(0) a second, fed by a 1 ms timer, for paintSeconds,
// with the graph shown (offscreen) and the event loop running as in the program.
void BM_PaintRate(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    const std::vector<std::int16_t>& samples = moduleSamples();
    for (auto _ : state) {
        TimedGraph graph;
        graph.show();
        QElapsedTimer settle;
        settle.start();
        while (graph.paints == 0 && settle.elapsed() < 3000) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
        graph.paints = 0;
        graph.paintNs = 0;
        WaveformTrace trace(graph);

        std::size_t fed = 0;
        QElapsedTimer clock;
        QTimer feed;
        feed.setTimerType(Qt::PreciseTimer);
        feed.setInterval(1);
        QObject::connect(&feed, &QTimer::timeout, [&] {
            const auto due =
                static_cast<std::size_t>(static_cast<double>(clock.nsecsElapsed()) * rate / 1e9);
            for (; fed < due; ++fed) {
                trace.plotSample(samples[fed % samples.size()]);
            }
        });
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(paintSeconds * 1000), &loop, &QEventLoop::quit);
        clock.start();
        feed.start();
        loop.exec();
        feed.stop();
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;

        state.counters["samples_per_s"] = static_cast<double>(fed) / seconds;
        state.counters["paints_per_s"] = graph.paints / seconds;
        state.counters["us_per_paint"] =
            graph.paints > 0 ? static_cast<double>(graph.paintNs) / graph.paints / 1e3 : 0.0;
        // Share of one core spent inside the graph's paints.
        state.counters["paint_cpu_pct"] = static_cast<double>(graph.paintNs) / 1e9 / seconds * 100;
    }
}
BENCHMARK(BM_PaintRate)
    ->Arg(300)
    ->Arg(960)
    ->Arg(96000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace vitalon::bench

int main(int argc, char** argv) {
    // Options of our own come out before Google Benchmark sees the rest.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* prefix = "--paint-seconds=";
        if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) {
            vitalon::bench::paintSeconds = std::atof(argv[i] + std::strlen(prefix));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    benchmark::AddCustomContext("Qt", qVersion());
    benchmark::AddCustomContext("QPA platform", QGuiApplication::platformName().toStdString());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
