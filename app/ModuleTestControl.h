#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ModuleTestSession.h"

class QAction;
class QMainWindow;
class QMenu;
class QWidget;

namespace vitalon {

namespace results {
class ResultsStore;
}

class ModuleTestDialog;
class Station;

// The window's Test menu and what it opens: "Module Test..." shows the module
// test dialog, which runs the test while the trace and the labels go on behind it.
class ModuleTestControl : public QObject {
    Q_OBJECT
public:
    // The Test menu goes into `window`'s menu bar; the runs are the station's.
    ModuleTestControl(Station& station, QMainWindow& window);
    ~ModuleTestControl() override;

    QMenu* menu() const { return menu_; }
    QAction* moduleTestAction() const { return moduleTestAction_; }
    // Shows the dialog, creating it the first time, beside the window so that
    // the trace stays in view during the test.
    ModuleTestDialog& showDialog();
    // Moves `tool` (a window of its own) beside the main window (see placeBeside).
    void placeBesideWindow(QWidget& tool);
    ModuleTestDialog* dialog() const { return dialog_.get(); }

    // The port the window's link is open on, or 0.
    std::uint8_t currentPort() const;
    // The station serves a simulated module or a replay on a port (from
    // --simulate or --replay); a test on it judges no module.
    bool servesSimulatedModule() const;
    // The station's link is open on that device.
    bool onSimulatedModule() const;
    // The results store the dialog shows a serial number's history from;
    // nullptr: none (the history then says so, and runs go on).
    results::ResultsStore* resultsStore() const {
        return resultsStore_ ? resultsStore_() : nullptr;
    }
    void setResultsStore(std::function<results::ResultsStore*()> store) {
        resultsStore_ = std::move(store);
    }
    // A run on the station's link.
    std::unique_ptr<ModuleTestSession> makeSession(ModuleTestSetup setup);

    // Before the program ends: a run under way in the dialog is cancelled,
    // which sends the start commands, and `then` runs from the event loop
    // once the run has finished (the commands written, samples seen again or
    // the restore step's time out, the report written as cancelled). True
    // when a run was under way and `then` will follow; false when nothing
    // runs, and `then` is not called.
    bool endRunThen(std::function<void()> then);

private:
    Station& station_;
    QMainWindow& window_;
    QMenu* menu_ = nullptr;
    QAction* moduleTestAction_ = nullptr;
    std::function<results::ResultsStore*()> resultsStore_;
    std::unique_ptr<ModuleTestDialog> dialog_;
};

}  // namespace vitalon
