#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ChunkListener.h"

class QCommandLineParser;
class QLabel;

namespace vitalon {

class MainWindow;

// Measurements for the benchmarks, compiled only into the benchmark build's
// instrumented program (vitalon-instrumented), never into vitalon:
//
//   --bench-report FILE  records, on the CLOCK_MONOTONIC clock (which a
//                        benchmark on the same machine shares), when the window
//                        was first painted and every text that the pulse label
//                        (Label1) was painted with; counts the received bytes;
//                        writes it all to FILE when the program ends.
//   --bench-lag          also runs a 10 ms timer and records how late it fires:
//                        the event loop's lag.
//
// The report has one record a line:
//   shown <ns>            the window's first paint
//   label1 <ns> <text>    Label1 painted with a text other than the last one
//   lag <ns> <us>         a lag sample: when the timer fired, how late
//   decoded <bytes>       bytes received and handed to the decoder over the whole run
//
// The bytes are counted as one more chunk listener of the window's link
// controller, after the decoder. Nothing is written while the
// program runs, so recording costs no system calls; the lag timer is the only
// added work on the event loop.
class RunStats : public QObject, public ChunkListener {
public:
    // Adds the options to `parser`; call before it processes the command line.
    static void addOptions(QCommandLineParser& parser);
    // A recorder for `window` if the options ask for one, else nullptr. Call
    // before the window is shown, so its first paint is seen.
    static std::unique_ptr<RunStats> fromOptions(const QCommandLineParser& parser,
                                                 MainWindow& window);

    RunStats(MainWindow& window, std::string path, bool lagTimer);
    ~RunStats() override;  // writes the report
    RunStats(const RunStats&) = delete;
    RunStats& operator=(const RunStats&) = delete;

    static std::int64_t monotonicNs();

    // The report as written to the file; exposed for tests.
    std::string report() const;

    void onChunk(ArrivalTime arrival, std::span<const std::uint8_t> bytes) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onLagTimer();

    static constexpr int kLagIntervalMs = 10;
    // Caps on what is kept, so a forgotten option cannot grow memory without end.
    static constexpr std::size_t kMaxRecords = 1u << 20;

    MainWindow& window_;
    QLabel* label1_;
    std::string path_;
    std::int64_t shownNs_ = -1;
    QString lastLabel1_;
    std::vector<std::pair<std::int64_t, QString>> label1Changes_;
    std::vector<std::pair<std::int64_t, std::int32_t>> lag_;  // when, microseconds late
    QTimer lagTimer_;
    std::int64_t lagArmedNs_ = 0;
    std::uint64_t decoded_ = 0;
};

}  // namespace vitalon
