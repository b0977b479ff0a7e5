// The results store on SQLite: storing one run with its checks, and asking a
// large generated store for one serial number's runs and for one check's
// values over every run.
//
//   vitalon-bench-results [--runs=N] [Google Benchmark options]
//
// --runs sets the size of the generated store (100,000 by default);
// --store=FILE keeps it in FILE, and a later run with the same FILE asks the
// store found there instead of generating it again.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "SqlResultsStore.h"

namespace {

using vitalon::results::CheckRecord;
using vitalon::results::RunFilter;
using vitalon::results::RunRecord;
using vitalon::results::SqlResultsStore;

constexpr int kChecksPerRun = 60;
constexpr qint64 kFirstStart = 1'796'716'800'000;  // 2026-12-07 00:00 UTC
int generatedRuns = 100'000;
QString keptStore;  // empty: a temporary store

std::string serialOf(int unit) {
    char text[16];
    std::snprintf(text, sizeof text, "TR-%06d", unit);
    return text;
}

// Run `i` of a plausible production: one every two minutes over four
// stations, each unit tested about twice, one run in ten failing one check.
RunRecord generatedRun(int i, const std::string& uuid) {
    RunRecord run;
    run.uuid = uuid;
    run.serialNumber = serialOf(i / 2);
    run.operatorName = i % 3 == 0 ? "Ann" : "Sam";
    run.station = "bench-" + std::to_string(i % 4);
    run.startedAt = QDateTime::fromMSecsSinceEpoch(kFirstStart + i * 120'000LL, QTimeZone(3600));
    run.endedAt = run.startedAt.addSecs(131);
    const bool failed = i % 10 == 7;
    run.outcome = failed ? "fail" : "pass";
    run.limitsName = "TR71000 production";
    run.limitsRevision = i < generatedRuns / 2 ? "6" : "7";
    run.limitsSha256 = std::string(64, i < generatedRuns / 2 ? 'a' : 'b');
    run.vitalonVersion = "1.4.0";
    run.vitalonCommit = "8c3ac31";
    run.adapter = "FTDI FT232R USB UART usb 0403:6001 serial A10K3Z";
    run.attempt = i % 2 + 1;
    run.checks.reserve(kChecksPerRun);
    for (int c = 0; c < kChecksPerRun; ++c) {
        // Deterministic spread around the middle of 99..101.
        const double value =
            100.0 + static_cast<double>((i * 7919 + c * 104'729) % 1000 - 500) / 600.0;
        const bool fails = failed && c == i % kChecksPerRun;
        run.checks.push_back({"step" + std::to_string(c / 8 + 1) + ".check" + std::to_string(c),
                              "check number " + std::to_string(c), fails ? 102.5 : value, "/s",
                              99.0, 101.0, fails ? "fail" : "pass", false});
    }
    run.attachments = {{"pdf", serialOf(i / 2) + ".pdf", std::string(64, 'c')},
                       {"edf", serialOf(i / 2) + ".edf", std::string(64, 'd')}};
    return run;
}

// The store of `generatedRuns` runs, made once for the benchmarks that read it.
struct GeneratedStore {
    GeneratedStore() {
        const QString file =
            keptStore.isEmpty() ? folder.filePath(QStringLiteral("results.sqlite")) : keptStore;
        const bool reuse = !keptStore.isEmpty() && QFileInfo::exists(keptStore);
        auto opened = SqlResultsStore::openLocal(file);
        if (!opened.store) {
            std::fprintf(stderr, "%s\n", opened.error.c_str());
            std::exit(1);
        }
        store = std::move(opened.store);
        if (reuse) {
            return;
        }
        QElapsedTimer timer;
        timer.start();
        constexpr int kBatch = 5'000;
        for (int first = 0; first < generatedRuns; first += kBatch) {
            std::vector<RunRecord> batch;
            for (int i = first; i < std::min(generatedRuns, first + kBatch); ++i) {
                batch.push_back(generatedRun(
                    i, "00000000-0000-4000-8000-" + serialOf(i) + std::string("000000")));
            }
            const auto result = store->storeAll(batch);
            if (!result.error.empty()) {
                std::fprintf(stderr, "%s\n", result.error.c_str());
                std::exit(1);
            }
        }
        std::printf("generated %d runs of %d checks in %.1f s (transactions of %d runs)\n",
                    generatedRuns, kChecksPerRun, static_cast<double>(timer.elapsed()) / 1000.0,
                    kBatch);
        std::fflush(stdout);
    }
    QTemporaryDir folder;
    std::unique_ptr<SqlResultsStore> store;
};

GeneratedStore& generated() {
    static GeneratedStore store;
    return store;
}

// One finished test as the program stores it after the verdict: a run with
// ~60 checks in its own transaction, synced to disk.
void StoreOneRunWith60Checks(benchmark::State& state) {
    QTemporaryDir folder;
    auto opened = SqlResultsStore::openLocal(folder.filePath(QStringLiteral("results.sqlite")));
    if (!opened.store) {
        state.SkipWithError(opened.error.c_str());
        return;
    }
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const RunRecord run = generatedRun(i, "run-" + std::to_string(i));
        ++i;
        state.ResumeTiming();
        const auto result = opened.store->store(run);
        if (!result.error.empty()) {
            state.SkipWithError(result.error.c_str());
            return;
        }
    }
}
BENCHMARK(StoreOneRunWith60Checks)->Unit(benchmark::kMillisecond)->UseRealTime();

// The runs of one serial number out of the whole store (the dialog's history,
// the Results window's filter).
void FilterBySerialNumber(benchmark::State& state) {
    SqlResultsStore& store = *generated().store;
    int unit = 0;
    for (auto _ : state) {
        RunFilter filter;
        filter.serialNumber = serialOf(unit);
        unit = (unit + 7919) % (generatedRuns / 2);
        const auto found = store.runs(filter);
        if (found.value.size() != 2) {
            state.SkipWithError("expected two runs of each serial number");
            return;
        }
        benchmark::DoNotOptimize(found.value.data());
    }
}
BENCHMARK(FilterBySerialNumber)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every value of one check over every run: what its statistics are drawn from.
void OneCheckOverAllRuns(benchmark::State& state) {
    SqlResultsStore& store = *generated().store;
    for (auto _ : state) {
        const auto values = store.checkValues("step3.check17", {});
        if (values.value.size() != static_cast<std::size_t>(generatedRuns)) {
            state.SkipWithError(("expected one value a run: " + values.error).c_str());
            return;
        }
        benchmark::DoNotOptimize(values.value.data());
    }
    state.counters["values"] = static_cast<double>(generatedRuns);
}
BENCHMARK(OneCheckOverAllRuns)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same over one week of one station.
void OneCheckOverAWeekOfOneStation(benchmark::State& state) {
    SqlResultsStore& store = *generated().store;
    RunFilter filter;
    filter.station = "bench-1";
    filter.since = QDateTime::fromMSecsSinceEpoch(kFirstStart + 7 * 86'400'000LL, QTimeZone(0));
    filter.until = filter.since.addDays(7);
    for (auto _ : state) {
        const auto values = store.checkValues("step3.check17", filter);
        benchmark::DoNotOptimize(values.value.data());
    }
}
BENCHMARK(OneCheckOverAWeekOfOneStation)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--runs=", 7) == 0) {
            generatedRuns = std::max(100, std::atoi(argv[i] + 7));
        } else if (std::strncmp(argv[i], "--store=", 8) == 0) {
            keptStore = QString::fromLocal8Bit(argv[i] + 8);
        } else {
            rest.push_back(argv[i]);
        }
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
