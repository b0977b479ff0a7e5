#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "Annotations.h"
#include "EdfRecorder.h"
#include "ModuleModel.h"
#include "StreamDecoder.h"
#include "StreamListener.h"

namespace vitalon::testing {

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
    std::vector<StreamListener*> listeners;  // what the decoder delivers to now
    recording::EdfRecorder::Clock::time_point now{std::chrono::hours(1)};
    std::vector<std::uint8_t> bytes;  // everything the model sent

    // Replaces the decoder's listeners.
    void listen(std::initializer_list<StreamListener*> next) {
        for (StreamListener* l : listeners)
            decoder.removeListener(*l);
        listeners.assign(next);
        for (StreamListener* l : listeners)
            decoder.addListener(*l);
    }

    void run(double seconds, recording::EdfRecorder* recorder) {
        const auto step = std::chrono::milliseconds(50);
        for (auto left = std::chrono::duration<double>(seconds); left.count() > 1e-9;
             left -= step) {
            now += step;
            if (recorder)
                recorder->advanceTime(now);
            auto chunk = model.advance(step);
            bytes.insert(bytes.end(), chunk.begin(), chunk.end());
            decoder.receive(chunk);
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

// Runs `body` in a child process and returns its wait status. With
// `alarmSeconds`, a child that has not finished by then dies of SIGALRM: a
// call that would never return fails the test instead of hanging it.
template <typename Body>
int inChild(Body body, unsigned alarmSeconds = 0) {
    pid_t pid = fork();
    if (pid == 0) {
        if (alarmSeconds) {
            alarm(alarmSeconds);
        }
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

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
