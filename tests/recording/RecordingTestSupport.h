#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Annotations.h"
#include "EdfRecorder.h"
#include "ModuleModel.h"
#include "StreamDecoder.h"
#include "StreamListener.h"

namespace vitalon::testing {

// The decoder's sink handing everything to listeners, as the window will.
class ListenerSink : public StreamSink {
public:
    std::vector<StreamListener*> listeners;
    void PlotSample(std::int16_t s) override {
        for (auto* l : listeners)
            l->onSample(static_cast<std::uint8_t>(s));
    }
    void ShowPulse(std::uint8_t r) override {
        for (auto* l : listeners)
            l->onPulse(r);
    }
    void ShowResp(std::uint8_t r) override {
        for (auto* l : listeners)
            l->onRespiration(r);
    }
    void ShowStatus(std::uint8_t c) override {
        for (auto* l : listeners)
            l->onStatus(c);
    }
    void PulseMarker() override {
        for (auto* l : listeners)
            l->onPulseMarker();
    }
};

// What a recording should hold: every sample, and every report with the
// index of the sample received before it.
struct ExpectedStream : StreamListener {
    struct Mark {
        std::uint64_t sample;
        std::string text;
        bool operator==(const Mark&) const = default;
    };
    std::vector<int> samples;
    std::vector<Mark> reports;
    std::uint64_t before() const { return samples.empty() ? 0 : samples.size() - 1; }
    void onSample(std::uint8_t s) override { samples.push_back(s); }
    void onPulse(std::uint8_t r) override {
        reports.push_back({before(), recording::reportText({recording::ReportKind::Pulse, r})});
    }
    void onRespiration(std::uint8_t r) override {
        reports.push_back(
            {before(), recording::reportText({recording::ReportKind::Respiration, r})});
    }
    void onStatus(std::uint8_t c) override {
        reports.push_back({before(), recording::reportText({recording::ReportKind::Status, c})});
    }
};

// The module model's stream, decoded into listeners, the host clock stepped
// with it in 50 ms reads.
struct ModelSession {
    explicit ModelSession(sim::Scenario scenario = {}) : model(std::move(scenario)) {}
    sim::ModuleModel model;
    StreamDecoder decoder;
    ListenerSink sink;
    recording::EdfRecorder::Clock::time_point now{std::chrono::hours(1)};
    std::vector<std::uint8_t> bytes;  // everything the model sent

    void run(double seconds, recording::EdfRecorder* recorder) {
        const auto step = std::chrono::milliseconds(50);
        for (auto left = std::chrono::duration<double>(seconds); left.count() > 1e-9;
             left -= step) {
            now += step;
            if (recorder)
                recorder->advanceTime(now);
            auto chunk = model.advance(step);
            bytes.insert(bytes.end(), chunk.begin(), chunk.end());
            decoder.decode(chunk, sink);
        }
    }
};

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vitalon-rec-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
    std::filesystem::path path;
};

inline recording::RecordingSetup setupFor(const std::string& path, int rate = 300) {
    recording::RecordingSetup setup;
    setup.path = path;
    setup.samplesPerSecond = rate;
    setup.port = "COM1";
    setup.device = "/dev/pts/7";
    setup.version = "1.4.0";
    setup.startTime = std::chrono::system_clock::now();
    return setup;
}

}  // namespace vitalon::testing
