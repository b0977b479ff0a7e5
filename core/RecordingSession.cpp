#include "RecordingSession.h"

#include "CommandMeaning.h"

namespace vitalon {

RecordingSession::RecordingSession(StreamDecoder& decoder, LinkController& linkController,
                                   const SettingSelectors& selectors, const PortManager& ports,
                                   const VitalSignPanel& panel, Report report, QObject* parent)
    : QObject(parent),
      decoder_(decoder),
      linkController_(linkController),
      selectors_(selectors),
      ports_(ports),
      panel_(panel),
      report_(std::move(report)) {
    linkController_.addEventListener(*this);
    recorder_.onError = [this](const std::string& message) { recorderFailed(message); };
    clock_.setInterval(kClockIntervalMs);
    connect(&clock_, &QTimer::timeout, this, &RecordingSession::tick);
}

RecordingSession::~RecordingSession() {
    recorder_.onError = nullptr;
    recorder_.stop();
    linkController_.removeEventListener(*this);
    listen(false);
}

void RecordingSession::listen(bool on) {
    if (on == listening_) {
        return;
    }
    listening_ = on;
    if (on) {
        decoder_.addListener(*this);  // the clock first, then the samples it dates
        decoder_.addListener(recorder_);
    } else {
        decoder_.removeListener(*this);
        decoder_.removeListener(recorder_);
    }
}

bool RecordingSession::start(const std::string& path, bool overwriteConfirmed) {
    if (recorder_.isRecording()) {
        stop();
    }
    const std::uint8_t port = ports_.currentPort();
    recording::RecordingSetup setup =
        recordingSetup(selectors_.settings(), path, {port, ports_.devicePath(port)},
                       std::chrono::system_clock::now());
    if (replayRate_ > 0) {
        setup.samplesPerSecond = replayRate_;
    }
    setup.overwrite = overwriteConfirmed;
    setup.filesInUse = filesInUse;
    if (!recorder_.start(setup, recording::EdfRecorder::Clock::now())) {
        report_(recorder_.error());
        return false;
    }
    startedAt_ = std::chrono::steady_clock::now();
    wasStale_ = panel_.state().stale();
    listen(true);
    clock_.start();
    report_("Recording to " + setup.path);
    emit changed();
    return true;
}

void RecordingSession::stop() {
    if (!recorder_.isRecording()) {
        return;
    }
    recorder_.stop();
    clock_.stop();
    listen(false);
    if (recorder_.error().empty()) {
        const auto& files = recorder_.files();
        std::string text = "Recording saved: " + files.front();
        if (files.size() > 1) {
            text += " and " + std::to_string(files.size() - 1) + " more file(s)";
        }
        report_(text);
    }
    emit changed();
}

std::chrono::steady_clock::duration RecordingSession::elapsed() const {
    return isRecording() ? std::chrono::steady_clock::now() - startedAt_
                         : std::chrono::steady_clock::duration{};
}

void RecordingSession::annotate(std::string_view text) {
    if (recorder_.isRecording()) {
        recorder_.annotate(text);
    }
}

void RecordingSession::commandSent(std::string_view command) {
    if (replayRate_ > 0) {
        report_("Replay: \"" + std::string(command) +
                "\" was sent, but commands do not change a recording");
    }
    if (!recorder_.isRecording()) {
        return;
    }
    recorder_.annotate(commandMeaning(command) + (replayRate_ > 0 ? " (replay: no effect)" : ""));
    if (replayRate_ > 0) {
        return;
    }
    followSettings(recorder_, selectors_.settings());
    emit changed();
}

void RecordingSession::watchdogTicked() {
    const bool stale = panel_.state().stale();
    if (stale != wasStale_) {
        wasStale_ = stale;
        annotate(stale ? "Watchdog stale: No Data!" : "Watchdog live");
    }
}

void RecordingSession::onArrival(ArrivalTime arrival) {
    if (recorder_.isRecording()) {
        recorder_.advanceTime(arrival);
    }
}

std::string RecordingSession::linkLost(std::uint8_t, const std::string&,
                                       const std::string& reason) {
    annotate("Link lost: " + reason);
    return {};  // marks the loss; what the user is told comes from the watch
}

void RecordingSession::linkResumed() {
    annotate("Link reopened");
}

void RecordingSession::tick() {
    recorder_.advanceTime(recording::EdfRecorder::Clock::now());
    emit changed();
}

void RecordingSession::recorderFailed(const std::string& message) {
    clock_.stop();
    listen(false);
    report_(message);
    emit changed();
}

}  // namespace vitalon
