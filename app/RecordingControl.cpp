#include "RecordingControl.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QStandardPaths>
#include <QStatusBar>

#include "CommandMeaning.h"
#include "CommandTap.h"
#include "MainWindow.h"
#include "RecordedSignal.h"

namespace vitalon {
namespace {

QString clockText(std::chrono::steady_clock::duration elapsed) {
    const auto total = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    return QStringLiteral("%1:%2:%3")
        .arg(total / 3600, 2, 10, QLatin1Char('0'))
        .arg(total / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(total % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

RecordingControl::RecordingControl(MainWindow& window, CommandTap& commands) : window_(window) {
    const MainWindowLayout& ui = window.layout();
    ui.fileMenu->addSeparator();
    startAction_ = ui.fileMenu->addAction(tr("Start Recording..."));
    stopAction_ = ui.fileMenu->addAction(tr("Stop Recording"));
    startAction_->setObjectName(QStringLiteral("menRecordStart"));
    stopAction_->setObjectName(QStringLiteral("menRecordStop"));

    recordingPanel_ = new QLabel(ui.statusBar);
    recordingPanel_->setObjectName(QStringLiteral("recordingPanel"));
    replayPanel_ = new QLabel(ui.statusBar);
    replayPanel_->setObjectName(QStringLiteral("replayPanel"));
    for (QLabel* panel : {replayPanel_, recordingPanel_}) {
        panel->setTextFormat(Qt::PlainText);
        panel->hide();
        ui.statusBar->addPermanentWidget(panel);
    }

    askPath = [this](const QString& suggested) {
        QFileDialog dialog(&window_, tr("Start Recording"), suggested,
                           tr("EDF+ recordings (*.edf)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("edf"));
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().constFirst()
                   : QString();
    };
    connect(startAction_, &QAction::triggered, this, [this] {
        const QString path = askPath(defaultPath());
        if (!path.isEmpty()) {
            startRecording(path, true);
        }
    });
    connect(stopAction_, &QAction::triggered, this, &RecordingControl::stopRecording);

    commands.onCommandSent = [this](std::string_view command) { commandSent(command); };
    window_.linkController().addEventListener(*this);
    recorder_.onError = [this](const std::string& message) { recorderFailed(message); };

    clock_.setInterval(kClockIntervalMs);
    connect(&clock_, &QTimer::timeout, this, &RecordingControl::tick);
    showState();
}

RecordingControl::~RecordingControl() {
    recorder_.onError = nullptr;
    recorder_.stop();
    window_.linkController().removeEventListener(*this);
    if (listening_) {
        window_.decoder().removeListener(*this);
        window_.decoder().removeListener(recorder_);
    }
}

void RecordingControl::onArrival(ArrivalTime arrival) {
    if (recorder_.isRecording()) {
        recorder_.advanceTime(arrival);
    }
}

std::string RecordingControl::linkLost(std::uint8_t, const std::string&,
                                       const std::string& reason) {
    annotate("Link lost: " + reason);
    return {};  // marks the loss; what the user is told comes from the watch
}

void RecordingControl::linkResumed() {
    annotate("Link reopened");
}

QString RecordingControl::defaultPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) {
        folder = QDir::homePath();
    }
    const QString name =
        QDateTime::currentDateTime().toString(QStringLiteral("'vitalon-'yyyyMMdd-HHmmss'.edf'"));
    return QDir(folder).filePath(name);
}

bool RecordingControl::startRecording(const QString& path, bool overwriteConfirmed) {
    if (recorder_.isRecording()) {
        stopRecording();
    }
    const std::uint8_t port = window_.currentPort();
    recording::RecordingSetup setup =
        recordingSetup(window_.settings(), QFileInfo(path).absoluteFilePath().toStdString(),
                       {port, window_.ports().devicePath(port)}, std::chrono::system_clock::now());
    if (replayRate_ > 0) {
        setup.samplesPerSecond = replayRate_;
    }
    setup.overwrite = overwriteConfirmed;
    setup.filesInUse = filesInUse;
    if (!recorder_.start(setup, recording::EdfRecorder::Clock::now())) {
        window_.showStatus(recorder_.error());
        return false;
    }
    startedAt_ = std::chrono::steady_clock::now();
    stale_ = window_.vitals().stale();
    if (!listening_) {
        window_.decoder().addListener(*this);
        window_.decoder().addListener(recorder_);
        listening_ = true;
    }
    clock_.start();
    window_.showStatus("Recording to " + setup.path);
    showState();
    return true;
}

void RecordingControl::stopRecording() {
    if (!recorder_.isRecording()) {
        return;
    }
    recorder_.stop();
    clock_.stop();
    if (listening_) {
        window_.decoder().removeListener(*this);
        window_.decoder().removeListener(recorder_);
        listening_ = false;
    }
    if (recorder_.error().empty()) {
        const auto& files = recorder_.files();
        std::string text = "Recording saved: " + files.front();
        if (files.size() > 1) {
            text += QStringLiteral(" and %1 more file(s)").arg(files.size() - 1).toStdString();
        }
        window_.showStatus(text);
    }
    showState();
}

void RecordingControl::annotate(std::string_view text) {
    if (recorder_.isRecording()) {
        recorder_.annotate(text);
    }
}

void RecordingControl::commandSent(std::string_view command) {
    if (replayRate_ > 0) {
        window_.showStatus(QStringLiteral("Replay: \"%1\" was sent, but commands do not change a "
                                          "recording")
                               .arg(QString::fromUtf8(command.data(), qsizetype(command.size())))
                               .toStdString());
    }
    if (!recorder_.isRecording()) {
        return;
    }
    recorder_.annotate(commandMeaning(command) + (replayRate_ > 0 ? " (replay: no effect)" : ""));
    if (replayRate_ > 0) {
        return;
    }
    followSettings(recorder_, window_.settings());
    showState();
}

void RecordingControl::watchdogTicked() {
    const bool stale = window_.vitals().stale();
    if (stale != stale_) {
        stale_ = stale;
        annotate(stale ? "Watchdog stale: No Data!" : "Watchdog live");
    }
}

void RecordingControl::setReplay(const QString& fileName, int samplesPerSecond) {
    replayRate_ = samplesPerSecond;
    replayPanel_->setText(tr("Replay of %1: commands do not change a recording").arg(fileName));
    showState();
}

void RecordingControl::tick() {
    recorder_.advanceTime(recording::EdfRecorder::Clock::now());
    showState();
}

void RecordingControl::recorderFailed(const std::string& message) {
    clock_.stop();
    if (listening_) {
        window_.decoder().removeListener(*this);
        window_.decoder().removeListener(recorder_);
        listening_ = false;
    }
    window_.showStatus(message);
    showState();
}

void RecordingControl::showState() {
    const bool recording = recorder_.isRecording();
    startAction_->setEnabled(!recording);
    stopAction_->setEnabled(recording);
    if (baseTitle_.isEmpty()) {
        baseTitle_ = window_.windowTitle();
    }
    if (recording) {
        const QString file = QFileInfo(QString::fromStdString(recorder_.files().back())).fileName();
        recordingPanel_->setText(
            tr("Recording %1 %2")
                .arg(file, clockText(std::chrono::steady_clock::now() - startedAt_)));
        window_.setWindowTitle(baseTitle_ + tr(" [Recording]"));
    } else {
        window_.setWindowTitle(baseTitle_);
    }
    recordingPanel_->setVisible(recording);
    replayPanel_->setVisible(replayRate_ > 0);
}

}  // namespace vitalon
