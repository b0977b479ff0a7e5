#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

#include "ModuleTestSession.h"

class QAction;
class QMenu;

namespace vitalon {

class MainWindow;
class ModuleTestDialog;

// The window's Test menu and what it opens: "Module Test..." shows the module
// test dialog, which runs the test while the trace and the labels go on behind it.
class ModuleTestControl : public QObject {
    Q_OBJECT
public:
    explicit ModuleTestControl(MainWindow& window);
    ~ModuleTestControl() override;

    QMenu* menu() const { return menu_; }
    QAction* moduleTestAction() const { return moduleTestAction_; }
    // Shows the dialog, creating it the first time.
    ModuleTestDialog& showDialog();
    ModuleTestDialog* dialog() const { return dialog_.get(); }

    // The port the window's link is open on, or 0.
    std::uint8_t currentPort() const;
    // The device of the simulated module or replay that serves a port (from
    // --simulate or --replay); a test on it judges no module.
    void setSimulatedDevice(std::string device) { simulatedDevice_ = std::move(device); }
    bool servesSimulatedModule() const { return !simulatedDevice_.empty(); }
    // The window's link is open on that device.
    bool onSimulatedModule() const;
    // A run on the window's link, for the dialog and the command line.
    std::unique_ptr<ModuleTestSession> makeSession(ModuleTestSetup setup);

private:
    MainWindow& window_;
    QMenu* menu_ = nullptr;
    QAction* moduleTestAction_ = nullptr;
    std::unique_ptr<ModuleTestDialog> dialog_;
    std::string simulatedDevice_;
};

}  // namespace vitalon
