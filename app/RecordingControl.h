#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "RecordingSession.h"

class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QStatusBar;

namespace vitalon {

// The recording as the window shows it: the File menu's "Start Recording..."
// and "Stop Recording", the status-bar panel with the file and the time it
// has run, the replay's panel, and the title's marker. The recording itself
// is the station's.
class RecordingControl : public QObject {
    Q_OBJECT
public:
    RecordingControl(RecordingSession& session, QMainWindow& window, QMenu* fileMenu,
                     QStatusBar* statusBar);
    ~RecordingControl() override;

    // Starts recording to `path` at the module's current settings. False, with
    // the reason in the status bar, when the file cannot be written, is in use
    // by the replay, or exists and `overwriteConfirmed` is false.
    bool startRecording(const QString& path, bool overwriteConfirmed = false);
    // Finishes the files; the status bar says where the recording is.
    void stopRecording() { session_.stop(); }
    bool isRecording() const { return session_.isRecording(); }
    const recording::EdfRecorder& recorder() const { return session_.recorder(); }

    // The window shows a replay of `fileName` at `samplesPerSecond`: commands
    // do not change the stream, so they do not change the recording's rate either.
    void setReplay(const QString& fileName, int samplesPerSecond);

    // vitalon-YYYYMMDD-HHMMSS.edf in the user's documents folder.
    static QString defaultPath();
    // Asks where to record, suggesting `suggested`; empty: cancelled. A save
    // dialog unless replaced (the tests do).
    // The save dialog has the user confirm overwriting an existing file.
    std::function<QString(const QString& suggested)> askPath;

private:
    void showState();

    RecordingSession& session_;
    QMainWindow& window_;
    QAction* startAction_ = nullptr;
    QAction* stopAction_ = nullptr;
    QLabel* recordingPanel_ = nullptr;
    QLabel* replayPanel_ = nullptr;
    QString baseTitle_;
};

}  // namespace vitalon
