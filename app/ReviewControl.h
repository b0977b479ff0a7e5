#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>

class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QStatusBar;

namespace vitalon {

class WaveformTrace;

// The View menu: "Freeze" (also F9) holds the trace still while
// everything else goes on, a second press resumes the sweep at the live
// position; "Save Picture..." writes the window as shown to a PNG file.
class ReviewControl : public QObject {
    Q_OBJECT
public:
    static constexpr Qt::Key kFreezeKey = Qt::Key_F9;

    using Report = std::function<void(const std::string&)>;

    // The View menu goes into `window`'s menu bar, the freeze panel into its
    // status bar; what was saved, or why not, goes to `report`.
    ReviewControl(WaveformTrace& trace, QMainWindow& window, QStatusBar* statusBar, Report report);

    void setFrozen(bool frozen);
    bool frozen() const;
    // Writes the window as it is shown now; false, with the reason in the
    // status bar, when the file cannot be written.
    bool savePicture(const QString& path);

    // vitalon-YYYYMMDD-HHMMSS.png in the user's pictures folder.
    static QString defaultPicturePath();
    // Asks where to save the picture; empty: cancelled. A save dialog unless replaced.
    std::function<QString(const QString& suggested)> askPath;
    // Told of every change, e.g. to mark it in a recording.
    std::function<void(bool frozen)> onFrozenChanged;

private:
    QMainWindow& window_;
    Report report_;
    WaveformTrace& trace_;
    QMenu* viewMenu_ = nullptr;
    QAction* freezeAction_ = nullptr;
    QAction* savePictureAction_ = nullptr;
    QLabel* freezePanel_ = nullptr;
};

}  // namespace vitalon
