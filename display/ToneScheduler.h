#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace vitalon {

// Why an audio output could not be had.
enum class ToneOutputStatus { Opened, NoDevice, FormatRefused, Failed };

// One audio output stream that stays open between beeps. Writes append to
// what the stream still has to play, so a tone written while another plays
// follows it; a write never waits for the sound.
class ToneOutput {
public:
    virtual ~ToneOutput() = default;
    virtual ToneOutputStatus open() = 0;
    virtual bool isOpen() const = 0;
    // Appends `silenceMs` of silence, then the tone. False when the output is gone.
    virtual bool write(std::uint32_t silenceMs, std::uint32_t frequencyHz,
                       std::uint32_t durationMs) = 0;
    virtual void close() = 0;
};

// Decides what happens to each beep: played at once, queued behind the ones
// still sounding, or dropped; and when a missing or lost output is tried
// again. Time is a parameter, so the decisions can be stepped in tests.
class ToneScheduler {
public:
    using Clock = std::chrono::steady_clock;

    // Beeps waiting behind the one that sounds; more are dropped, so a stream
    // of nothing but pulse reports cannot build a backlog.
    static constexpr std::size_t kMaxWaiting = 3;
    // Silence between a tone and one queued behind it, so they are heard as two.
    static constexpr std::chrono::milliseconds kGap{40};
    // An output that is missing or was lost is tried again at most this often.
    static constexpr std::chrono::milliseconds kRetryInterval{1000};
    // Longer requests are cut to this, so a wild duration cannot exhaust memory.
    static constexpr std::uint32_t kMaxDurationMs = 10000;

    explicit ToneScheduler(ToneOutput& output) : output_(output) {}

    // Told once per outage, with a message for the user.
    std::function<void(const std::string&)> onUnavailable;

    // Switching the tone on opens the output (at once: the user asked for it);
    // switching it off closes it and forgets the queue.
    void hold(bool on, Clock::time_point now);
    void beep(std::uint32_t frequencyHz, std::uint32_t durationMs, Clock::time_point now);
    // The output failed on its own (the server went away): it is closed and
    // tried again at the next beep a retry interval from now.
    void outputFailed(Clock::time_point now);

    // Beeps that were queued and have not started to sound at `now`.
    std::size_t waiting(Clock::time_point now) const;
    // Beeps dropped because the queue was full, since creation.
    std::uint64_t dropped() const { return dropped_; }
    bool isHeld() const { return held_; }

private:
    bool ensureOpen(Clock::time_point now, bool force);
    void lost(const std::string& message, Clock::time_point now);
    void report(const std::string& message);
    void prune(Clock::time_point now) const;

    ToneOutput& output_;
    bool held_ = false;
    bool reported_ = false;  // this outage has been told
    bool attempted_ = false;
    Clock::time_point lastAttempt_{};
    Clock::time_point busyUntil_{};
    mutable std::deque<Clock::time_point> starts_;  // start times of queued beeps
    std::uint64_t dropped_ = 0;
};

}  // namespace vitalon
