#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "EdfRecorder.h"
#include "LinkController.h"
#include "RecordedSignal.h"
#include "StreamDecoder.h"
#include "StreamListener.h"
#include "VitalSignPanel.h"

namespace vitalon {

// Recording the monitored session to EDF+: the decoded stream, and what the
// recorder is told besides it: every command sent with its meaning, the
// watchdog going stale and live, the link lost and back, and whatever else a
// front end marks (freeze and unfreeze). Each received chunk dates the
// samples that follow it, and a clock once a second flushes what is due while
// nothing arrives. A failing write stops the recording with a status message;
// the monitor carries on.
class RecordingSession : public QObject, private StreamListener, private LinkEvents {
    Q_OBJECT
public:
    static constexpr int kClockIntervalMs = 1000;
    using Report = std::function<void(const std::string&)>;

    // The recording describes itself by the selectors' settings and the open
    // port, and marks the panel's watchdog going stale and live.
    RecordingSession(StreamDecoder& decoder, LinkController& linkController,
                     const SettingSelectors& selectors, const PortManager& ports,
                     const VitalSignPanel& panel, Report report, QObject* parent = nullptr);
    ~RecordingSession() override;

    // Starts recording to `path` (absolute) at the module's current settings,
    // after finishing a recording under way. False, with the reason reported,
    // when the file cannot be written, is in use by a replay (filesInUse), or
    // exists and `overwriteConfirmed` is false.
    bool start(const std::string& path, bool overwriteConfirmed = false);
    // Finishes the files and reports where the recording is; nothing when not recording.
    void stop();
    bool isRecording() const { return recorder_.isRecording(); }
    const recording::EdfRecorder& recorder() const { return recorder_; }
    // Since the recording started.
    std::chrono::steady_clock::duration elapsed() const;

    // An event for the recording, at the current sample; nothing when not recording.
    void annotate(std::string_view text);
    // A command went out (the selectors already hold its setting).
    void commandSent(std::string_view command);
    // After every tick of the no-data watchdog: a change between live and
    // stale is marked.
    void watchdogTicked();
    // The stream is a replay at `samplesPerSecond`: commands do not change
    // it, so they do not change the recording's rate either.
    void setReplay(int samplesPerSecond) { replayRate_ = samplesPerSecond; }
    bool replaying() const { return replayRate_ > 0; }

    // The files a replay has open, which no recording may write over.
    std::function<std::vector<std::string>()> filesInUse;

signals:
    // Started, stopped, continued in another file, or a second passed.
    void changed();

private:
    void onArrival(ArrivalTime arrival) override;
    std::string linkLost(std::uint8_t n, const std::string& path,
                         const std::string& reason) override;
    void linkResumed() override;

    void listen(bool on);
    void tick();
    void recorderFailed(const std::string& message);

    StreamDecoder& decoder_;
    LinkController& linkController_;
    const SettingSelectors& selectors_;
    const PortManager& ports_;
    const VitalSignPanel& panel_;
    Report report_;
    recording::EdfRecorder recorder_;
    QTimer clock_;
    std::chrono::steady_clock::time_point startedAt_{};
    bool listening_ = false;
    bool wasStale_ = false;
    int replayRate_ = 0;  // 0: the stream follows the speed commands
};

}  // namespace vitalon
