#include "RecordingControl.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStandardPaths>
#include <QStatusBar>

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

RecordingControl::RecordingControl(RecordingSession& session, QMainWindow& window, QMenu* fileMenu,
                                   QStatusBar* statusBar)
    : session_(session), window_(window) {
    fileMenu->addSeparator();
    startAction_ = fileMenu->addAction(tr("Start Recording..."));
    stopAction_ = fileMenu->addAction(tr("Stop Recording"));
    startAction_->setObjectName(QStringLiteral("menRecordStart"));
    stopAction_->setObjectName(QStringLiteral("menRecordStop"));

    recordingPanel_ = new QLabel(statusBar);
    recordingPanel_->setObjectName(QStringLiteral("recordingPanel"));
    replayPanel_ = new QLabel(statusBar);
    replayPanel_->setObjectName(QStringLiteral("replayPanel"));
    for (QLabel* panel : {replayPanel_, recordingPanel_}) {
        panel->setTextFormat(Qt::PlainText);
        panel->hide();
        statusBar->addPermanentWidget(panel);
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
    connect(&session_, &RecordingSession::changed, this, &RecordingControl::showState);
    showState();
}

RecordingControl::~RecordingControl() = default;

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
    return session_.start(QFileInfo(path).absoluteFilePath().toStdString(), overwriteConfirmed);
}

void RecordingControl::setReplay(const QString& fileName, int samplesPerSecond) {
    session_.setReplay(samplesPerSecond);
    replayPanel_->setText(tr("Replay of %1: commands do not change a recording").arg(fileName));
    showState();
}

void RecordingControl::showState() {
    const bool recording = session_.isRecording();
    startAction_->setEnabled(!recording);
    stopAction_->setEnabled(recording);
    if (baseTitle_.isEmpty()) {
        baseTitle_ = window_.windowTitle();
    }
    if (recording) {
        const QString file =
            QFileInfo(QString::fromStdString(session_.recorder().files().back())).fileName();
        recordingPanel_->setText(tr("Recording %1 %2").arg(file, clockText(session_.elapsed())));
        window_.setWindowTitle(baseTitle_ + tr(" [Recording]"));
    } else {
        window_.setWindowTitle(baseTitle_);
    }
    recordingPanel_->setVisible(recording);
    replayPanel_->setVisible(session_.replaying());
}

}  // namespace vitalon
