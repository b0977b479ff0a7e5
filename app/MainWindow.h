#pragma once

#include <QMainWindow>
#include <array>
#include <memory>

#include "MainWindowLayout.h"
#include "QtControls.h"
#include "QtSerialLink.h"
#include "Station.h"
#include "TonePlayer.h"

namespace vitalon {

class ModuleTestControl;
class RecordingControl;
class ResultsControl;
class ReviewControl;

// The main window: the station (the program without its window) shown on
// the window's controls, and the controls wired to it. The window's labels,
// port items, pulse-tone item and graph are the station's views; the buttons
// and menu items call the station; every status message of the station is
// shown in the status bar.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(PortAssignment devices, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up, before the window is first shown: the station's start-up.
    void start();
    // Ends the program: the same shutdown as closing the window. A module
    // test under way is cancelled first and the program ends once the module
    // is restored; asked again meanwhile, it ends at once.
    void quit();

    const MainWindowLayout& layout() const { return ui_; }
    Station& station() { return *station_; }
    const Station& station() const { return *station_; }
    // The serial link the station runs on.
    QtSerialLink& link() { return *link_; }
    RecordingControl& recording() { return *recording_; }
    ReviewControl& review() { return *review_; }
    ModuleTestControl& moduleTest() { return *moduleTest_; }
    ResultsControl& results() { return *results_; }
    QString statusText() const;  // the whole message, however it is shown

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showStatus(const QString& text);
    void connectControls();
    // True when the end waits for a module test to restore the module.
    bool waitsForModuleTest();

    MainWindowLayout ui_;
    TonePlayer tone_;
    QtLabel pulseLabel_, respirationLabel_, statusLabel_;
    QtLabel speedLabel_, amplificationLabel_, filterLabel_, modeLabel_, leadLabel_, curveLabel_;
    std::array<std::unique_ptr<QtMenuItem>, 8> portItems_;
    QtMenuItem pulseToneItem_;
    QtSerialLink* link_ = nullptr;  // owned by the station
    std::unique_ptr<Station> station_;
    std::unique_ptr<RecordingControl> recording_;
    std::unique_ptr<ReviewControl> review_;
    std::unique_ptr<ResultsControl> results_;
    // Last, so that a running test ends before the parts it works with.
    std::unique_ptr<ModuleTestControl> moduleTest_;
    bool endRequested_ = false;
};

}  // namespace vitalon
