#pragma once

// POSIX-only test support: a private PulseAudio server whose only sink is a
// null sink, and a recording of that sink's monitor, so a test can hear what
// a program played. The server runs in its own runtime directory and answers
// on its own socket; nothing of the machine's sound setup is used or touched.

#include <sys/types.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vitalon::testing {

class PulseServer {
public:
    static constexpr int kRate = 48000;
    static constexpr const char* kSinkName = "vitalon_tone";

    // Starts the server and waits until it answers (throws when it does not).
    PulseServer();
    ~PulseServer();  // stops the server and removes its directory
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // True when the pulseaudio and parec programs are installed.
    static bool available();

    // The environment a client needs to find this server and no other
    // (PULSE_SERVER, and a client configuration that never starts a server).
    std::vector<std::pair<std::string, std::string>> clientEnv() const;
    // Puts clientEnv() into this process's environment, for Qt's audio layer.
    void useInThisProcess() const;

    void stop();
    void start();  // again after stop(), on the same socket
    bool running() const { return pid_ > 0; }

    // How many playback streams clients have open on the server.
    int playbackStreams() const;
    // Waits until at least `count` playback streams are open.
    bool waitForPlaybackStreams(int count, std::chrono::milliseconds timeout) const;

    // Removes the null sink while clients play into it, and puts it back.
    void removeSink();
    void addSink();

private:
    void waitUntilAnswering();
    std::string pactl(const std::vector<std::string>& args) const;

    std::string dir_;
    pid_t pid_ = -1;
    std::string sinkModule_;
};

// The null sink's monitor recorded by parec at 48 kHz mono, with each read's
// arrival time, so a sample's time on CLOCK_MONOTONIC can be estimated.
class MonitorRecording {
public:
    explicit MonitorRecording(const PulseServer& server);
    ~MonitorRecording();
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;

    // Waits until the recording runs steadily (some 100 ms recorded).
    bool waitUntilRecording(std::chrono::milliseconds timeout);
    std::vector<std::int16_t> samples() const;
    std::size_t size() const;
    // The latest time sample `index` can have been made: a read arrives after
    // its last sample was made, so each of the reads in the 100 ms after the
    // sample bounds its time; the tightest bound is taken.
    std::chrono::steady_clock::time_point timeOf(std::size_t index) const;

private:
    void readLoop();

    pid_t pid_ = -1;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::int16_t> samples_;
    // Samples recorded when each read arrived, and when.
    std::vector<std::pair<std::size_t, std::chrono::steady_clock::time_point>> reads_;
    std::thread reader_;
};

}  // namespace vitalon::testing
