#include "ToneScheduler.h"

#include <algorithm>

namespace vitalon {

namespace {

std::string unavailableText(ToneOutputStatus status) {
    switch (status) {
        case ToneOutputStatus::NoDevice:
            return "Pulse tone unavailable: no audio output device.";
        case ToneOutputStatus::FormatRefused:
            return "Pulse tone unavailable: the audio output does not accept the tone's format.";
        default:
            return "Pulse tone unavailable: the audio output could not be opened.";
    }
}

const std::string kLostText = "Pulse tone unavailable: the audio output stopped with an error.";

}  // namespace

void ToneScheduler::hold(bool on, Clock::time_point now) {
    held_ = on;
    starts_.clear();
    busyUntil_ = now;
    if (!on) {
        output_.close();
        attempted_ = false;
        reported_ = false;
        return;
    }
    ensureOpen(now, true);
}

void ToneScheduler::beep(std::uint32_t frequencyHz, std::uint32_t durationMs,
                         Clock::time_point now) {
    if (durationMs == 0 || !ensureOpen(now, false)) {
        return;
    }
    prune(now);
    if (starts_.size() >= kMaxWaiting) {
        ++dropped_;
        return;
    }
    durationMs = std::min(durationMs, kMaxDurationMs);
    // A beep that comes while an earlier one still sounds starts after it and a gap.
    std::uint32_t silenceMs = 0;
    Clock::time_point start = now;
    if (busyUntil_ > now) {
        silenceMs = static_cast<std::uint32_t>(kGap.count());
        start = busyUntil_ + kGap;
        starts_.push_back(start);
    }
    if (!output_.write(silenceMs, frequencyHz, durationMs)) {
        lost(kLostText, now);
        return;
    }
    busyUntil_ = start + std::chrono::milliseconds(durationMs);
}

void ToneScheduler::outputFailed(Clock::time_point now) {
    lost(kLostText, now);
}

std::size_t ToneScheduler::waiting(Clock::time_point now) const {
    prune(now);
    return starts_.size();
}

bool ToneScheduler::ensureOpen(Clock::time_point now, bool force) {
    if (output_.isOpen()) {
        return true;
    }
    if (!force && attempted_ && now - lastAttempt_ < kRetryInterval) {
        return false;
    }
    attempted_ = true;
    lastAttempt_ = now;
    const ToneOutputStatus status = output_.open();
    if (status != ToneOutputStatus::Opened) {
        report(unavailableText(status));
        return false;
    }
    reported_ = false;  // a later outage is told again
    starts_.clear();
    busyUntil_ = now;
    return true;
}

void ToneScheduler::lost(const std::string& message, Clock::time_point now) {
    output_.close();
    starts_.clear();
    busyUntil_ = now;
    attempted_ = true;
    lastAttempt_ = now;
    report(message);
}

void ToneScheduler::report(const std::string& message) {
    if (reported_) {
        return;
    }
    reported_ = true;
    if (onUnavailable) {
        onUnavailable(message);
    }
}

void ToneScheduler::prune(Clock::time_point now) const {
    while (!starts_.empty() && starts_.front() <= now) {
        starts_.pop_front();
    }
}

}  // namespace vitalon
