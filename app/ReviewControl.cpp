#include "ReviewControl.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QImageWriter>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QStandardPaths>
#include <QStatusBar>

#include "WaveformTrace.h"

namespace vitalon {

ReviewControl::ReviewControl(WaveformTrace& trace, QMainWindow& window, QStatusBar* statusBar,
                             Report report)
    : window_(window), report_(std::move(report)), trace_(trace) {
    viewMenu_ = window.menuBar()->addMenu(tr("&View"));
    viewMenu_->setObjectName(QStringLiteral("menView"));
    freezeAction_ = viewMenu_->addAction(tr("Freeze"));
    freezeAction_->setObjectName(QStringLiteral("menFreeze"));
    freezeAction_->setCheckable(true);
    // A key no control of the window uses: the space bar stays with the
    // focused button, which it presses.
    freezeAction_->setShortcut(QKeySequence(ReviewControl::kFreezeKey));
    savePictureAction_ = viewMenu_->addAction(tr("Save Picture..."));
    savePictureAction_->setObjectName(QStringLiteral("menSavePicture"));

    freezePanel_ = new QLabel(tr("Frozen"), statusBar);
    freezePanel_->setObjectName(QStringLiteral("freezePanel"));
    freezePanel_->hide();
    statusBar->addPermanentWidget(freezePanel_);

    askPath = [this](const QString& suggested) {
        QFileDialog dialog(&window_, tr("Save Picture"), suggested, tr("PNG pictures (*.png)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("png"));
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().constFirst()
                   : QString();
    };
    connect(freezeAction_, &QAction::triggered, this, [this](bool checked) { setFrozen(checked); });
    connect(savePictureAction_, &QAction::triggered, this, [this] {
        const QString path = askPath(defaultPicturePath());
        if (!path.isEmpty()) {
            savePicture(path);
        }
    });
}

bool ReviewControl::frozen() const {
    return trace_.frozen();
}

void ReviewControl::setFrozen(bool frozen) {
    freezeAction_->setChecked(frozen);
    if (frozen == trace_.frozen()) {
        return;
    }
    trace_.setFrozen(frozen);
    freezePanel_->setVisible(frozen);
    if (onFrozenChanged) {
        onFrozenChanged(frozen);
    }
}

QString ReviewControl::defaultPicturePath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty()) {
        folder = QDir::homePath();
    }
    return QDir(folder).filePath(
        QDateTime::currentDateTime().toString(QStringLiteral("'vitalon-'yyyyMMdd-HHmmss'.png'")));
}

bool ReviewControl::savePicture(const QString& path) {
    const QPixmap picture = window_.grab();
    QImageWriter writer(path, "png");
    if (!writer.write(picture.toImage())) {
        report_(QStringLiteral("Picture not saved: %1: %2")
                    .arg(path, writer.errorString())
                    .toStdString());
        return false;
    }
    report_(QStringLiteral("Picture saved: %1").arg(path).toStdString());
    return true;
}

}  // namespace vitalon
