#include "RunStats.h"

#include <QCommandLineParser>
#include <QEvent>
#include <QLabel>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "MainWindow.h"
#include "MainWindowLayout.h"

namespace vitalon {
namespace {

QCommandLineOption reportOption() {
    QCommandLineOption option(QStringLiteral("bench-report"),
                              QStringLiteral("Write benchmark measurements to FILE at exit."),
                              QStringLiteral("FILE"));
    return option;
}

QCommandLineOption lagOption() {
    QCommandLineOption option(QStringLiteral("bench-lag"),
                              QStringLiteral("Measure the event loop's lag with a 10 ms timer."));
    return option;
}

}  // namespace

void RunStats::addOptions(QCommandLineParser& parser) {
    parser.addOption(reportOption());
    parser.addOption(lagOption());
}

std::unique_ptr<RunStats> RunStats::fromOptions(const QCommandLineParser& parser,
                                                MainWindow& window) {
    const QString path = parser.value(reportOption());
    if (path.isEmpty()) {
        return nullptr;
    }
    return std::make_unique<RunStats>(window, path.toStdString(), parser.isSet(lagOption()));
}

RunStats::RunStats(MainWindow& window, std::string path, bool lagTimer)
    : window_(window), label1_(window.layout().pulseLabel), path_(std::move(path)) {
    window_.station().linkController().addChunkListener(*this);
    window_.installEventFilter(this);
    if (label1_ != nullptr) {
        lastLabel1_ = label1_->text();
        label1_->installEventFilter(this);
    }
    if (lagTimer) {
        lagTimer_.setSingleShot(true);
        lagTimer_.setTimerType(Qt::PreciseTimer);
        lagTimer_.setInterval(kLagIntervalMs);
        connect(&lagTimer_, &QTimer::timeout, this, &RunStats::onLagTimer);
        lagArmedNs_ = monotonicNs();
        lagTimer_.start();
    }
}

RunStats::~RunStats() {
    window_.station().linkController().removeChunkListener(*this);
    window_.removeEventFilter(this);
    if (label1_ != nullptr) {
        label1_->removeEventFilter(this);
    }
    std::FILE* file = std::fopen(path_.c_str(), "w");
    if (file == nullptr) {
        std::fprintf(stderr, "vitalon: cannot write the benchmark report to %s\n", path_.c_str());
        return;
    }
    const std::string text = report();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::int64_t RunStats::monotonicNs() {
    // On Linux the steady clock is CLOCK_MONOTONIC, shared by every process.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool RunStats::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Paint) {
        return false;
    }
    if (watched == &window_ && shownNs_ < 0) {
        shownNs_ = monotonicNs();
        window_.removeEventFilter(this);  // only the first paint counts
    } else if (watched == label1_ && label1_->text() != lastLabel1_) {
        // A text is on screen from its paint on; texts set and replaced between
        // two paints were never seen and are not recorded.
        lastLabel1_ = label1_->text();
        if (label1Changes_.size() < kMaxRecords) {
            label1Changes_.emplace_back(monotonicNs(), lastLabel1_);
        }
    }
    return false;
}

void RunStats::onLagTimer() {
    const std::int64_t now = monotonicNs();
    const std::int64_t late = now - lagArmedNs_ - std::int64_t{kLagIntervalMs} * 1'000'000;
    if (lag_.size() < kMaxRecords) {
        lag_.emplace_back(now, static_cast<std::int32_t>(std::max<std::int64_t>(late, 0) / 1000));
    }
    lagArmedNs_ = now;
    lagTimer_.start();
}

std::string RunStats::report() const {
    std::string out;
    const auto line = [&out](const std::string& text) {
        out += text;
        out += '\n';
    };
    if (shownNs_ >= 0) {
        line("shown " + std::to_string(shownNs_));
    }
    for (const auto& [ns, text] : label1Changes_) {
        // The text is the last field; it never holds a line break.
        line("label1 " + std::to_string(ns) + " " + text.simplified().toStdString());
    }
    for (const auto& [ns, us] : lag_) {
        line("lag " + std::to_string(ns) + " " + std::to_string(us));
    }
    line("decoded " + std::to_string(decoded_));
    return out;
}

void RunStats::onChunk(ArrivalTime, std::span<const std::uint8_t> bytes) {
    decoded_ += bytes.size();
}

}  // namespace vitalon
