// From a pulse report's arrival on the serial line to the first sample of its
// tone at the sound server, and the tones as the server plays them.
//
//   vitalon-bench-tone [--smoke] [--reports=N]
//
// The program's window (offscreen) reads a pseudo-terminal with "Pulse Tone"
// switched on and plays into a private PulseAudio server whose only sink is a
// null sink. A thread writes one pulse report every 300 ms (so no tone waits
// behind another) and notes when; the sink's monitor is recorded, and each
// tone's first sample is put on the same clock from the arrival times of the
// recording's reads. That estimate is never early: every read arrives at or
// after its last sample was made, so the figure includes the recorder's own
// delay of up to a couple of milliseconds.
#include <unistd.h>
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Harness.h"
#include "MainWindow.h"
#include "PulseServer.h"
#include "ToneAnalysis.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using vitalon::testing::PulseServer;

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    int reports = 100;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) {
            reports = 8;
        } else if (std::strncmp(argv[i], "--reports=", 10) == 0) {
            reports = std::max(1, std::atoi(argv[i] + 10));
        } else {
            std::fprintf(stderr, "usage: vitalon-bench-tone [--smoke] [--reports=N]\n");
            return 2;
        }
    }
    if (!PulseServer::available()) {
        std::fprintf(stderr, "pulseaudio, parec and pactl are needed (scripts/install-deps)\n");
        return 1;
    }
    PulseServer server;
    server.useInThisProcess();  // before Qt's audio layer looks for a server
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    vitalon::bench::Line line;
    vitalon::PortAssignment ports;
    ports[0] = vitalon::PortDevice{line.path(), {}};
    vitalon::MainWindow window(ports);
    window.start();
    window.layout().pulseToneAction->trigger();  // "Pulse Tone" on: the stream opens now
    if (window.statusText().contains(QStringLiteral("Pulse tone unavailable"))) {
        std::fprintf(stderr, "%s\n", qPrintable(window.statusText()));
        return 1;
    }

    vitalon::testing::MonitorRecording recording(server);
    if (!recording.waitUntilRecording(10s)) {
        std::fprintf(stderr, "the sink's monitor did not record\n");
        return 1;
    }
    const std::size_t from = recording.size();

    std::vector<Clock::time_point> written;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::this_thread::sleep_for(300ms);
        auto next = Clock::now();
        for (int i = 0; i < reports; ++i) {
            std::this_thread::sleep_until(next);
            const std::uint8_t report[] = {250, static_cast<std::uint8_t>(60 + i % 60)};
            written.push_back(Clock::now());
            if (::write(line.masterFd(), report, sizeof report) != sizeof report) {
                break;
            }
            next += 300ms;
        }
        std::this_thread::sleep_for(400ms);
        done = true;
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        line.drainOutput();
        if (done) {
            app.quit();
        }
    });
    poll.start(50);
    app.exec();
    writer.join();

    const auto samples = recording.samples();
    auto tones = vitalon::testing::findTones(samples, PulseServer::kRate);
    std::erase_if(tones, [&](const auto& t) { return t.start < from; });

    std::vector<double> latencies, lengths, frequencies;
    std::size_t unmatched = 0;
    std::size_t next = 0;
    for (const Clock::time_point at : written) {
        // The first tone that starts after this report was written (2 ms of
        // slack for the estimate of the recording's clock).
        while (next < tones.size() && recording.timeOf(tones[next].start) < at - 2ms) {
            ++next;
        }
        if (next == tones.size() || recording.timeOf(tones[next].start) > at + 250ms) {
            ++unmatched;
            continue;
        }
        latencies.push_back(ms(recording.timeOf(tones[next].start) - at));
        ++next;
    }
    for (const auto& t : tones) {
        lengths.push_back(t.lengthMs);
        frequencies.push_back(t.frequencyHz);
    }
    std::printf("pulse reports written: %zu, tones heard: %zu, reports without a tone: %zu\n",
                written.size(), tones.size(), unmatched);
    std::printf(
        "report to first sample at the server, ms: median %.1f  p90 %.1f  min %.1f  "
        "max %.1f\n",
        percentile(latencies, 0.5), percentile(latencies, 0.9), percentile(latencies, 0.0),
        percentile(latencies, 1.0));
    std::printf("tone length, ms: median %.1f  min %.1f  max %.1f\n", percentile(lengths, 0.5),
                percentile(lengths, 0.0), percentile(lengths, 1.0));
    std::printf("tone frequency, Hz: median %.1f  min %.1f  max %.1f\n",
                percentile(frequencies, 0.5), percentile(frequencies, 0.0),
                percentile(frequencies, 1.0));
    return unmatched == 0 ? 0 : 1;
}
