#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "EdfRecorder.h"
#include "LinkController.h"
#include "StreamListener.h"

class QAction;
class QLabel;

namespace vitalon {

class MainWindow;
class CommandTap;

// Recording the session from the window: the File menu's "Start Recording..."
// and "Stop Recording", the status-bar panel with the file and the time it
// has run, the title's marker, and what the recorder is told besides the
// stream: every command sent with its meaning, the watchdog going stale and
// live, freeze and unfreeze, the link lost and back. Each received chunk
// dates the samples that follow it. A failing write stops the recording with a
// status-bar message; the monitor carries on.
class RecordingControl : public QObject, private StreamListener, private LinkEvents {
    Q_OBJECT
public:
    static constexpr int kClockIntervalMs = 1000;

    RecordingControl(MainWindow& window, CommandTap& commands);
    ~RecordingControl() override;

    // Starts recording to `path` at the module's current settings. False, with
    // the reason in the status bar, when the file cannot be written, is in use
    // by the replay, or exists and `overwriteConfirmed` is false.
    bool startRecording(const QString& path, bool overwriteConfirmed = false);
    // Finishes the files; the status bar says where the recording is.
    void stopRecording();
    bool isRecording() const { return recorder_.isRecording(); }
    const recording::EdfRecorder& recorder() const { return recorder_; }

    // An event for the recording, at the current sample; nothing when not recording.
    void annotate(std::string_view text);
    // To be called after every tick of the no-data watchdog.
    void watchdogTicked();
    // The window shows a replay at `samplesPerSecond`: commands do not change
    // the stream, so they do not change the recording's rate either.
    void setReplay(const QString& fileName, int samplesPerSecond);

    // vitalon-YYYYMMDD-HHMMSS.edf in the user's documents folder.
    static QString defaultPath();
    // Asks where to record, suggesting `suggested`; empty: cancelled. A save
    // dialog unless replaced (the tests do).
    // The save dialog has the user confirm overwriting an existing file.
    std::function<QString(const QString& suggested)> askPath;
    // The files a replay has open, which no recording may write over.
    std::function<std::vector<std::string>()> filesInUse;

private:
    // StreamListener: the recorder's clock moves with each received chunk.
    void onArrival(ArrivalTime arrival) override;
    // LinkEvents: losses and returns are marked in the recording.
    std::string linkLost(std::uint8_t n, const std::string& path,
                         const std::string& reason) override;
    void linkResumed() override;

    void commandSent(std::string_view command);
    void tick();
    void recorderFailed(const std::string& message);
    void showState();

    MainWindow& window_;
    recording::EdfRecorder recorder_;
    QTimer clock_;
    QAction* startAction_ = nullptr;
    QAction* stopAction_ = nullptr;
    QLabel* recordingPanel_ = nullptr;
    QLabel* replayPanel_ = nullptr;
    QString baseTitle_;
    std::chrono::steady_clock::time_point startedAt_{};
    bool listening_ = false;
    bool stale_ = false;
    int replayRate_ = 0;  // 0: the stream follows the speed commands
};

}  // namespace vitalon
