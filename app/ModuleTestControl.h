#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

#include "ModuleTestSession.h"

class QAction;
class QMainWindow;
class QMenu;

namespace vitalon {

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
    // Shows the dialog, creating it the first time.
    ModuleTestDialog& showDialog();
    ModuleTestDialog* dialog() const { return dialog_.get(); }

    // The port the window's link is open on, or 0.
    std::uint8_t currentPort() const;
    // The station serves a simulated module or a replay on a port (from
    // --simulate or --replay); a test on it judges no module.
    bool servesSimulatedModule() const;
    // The station's link is open on that device.
    bool onSimulatedModule() const;
    // A run on the station's link.
    std::unique_ptr<ModuleTestSession> makeSession(ModuleTestSetup setup);

private:
    Station& station_;
    QMainWindow& window_;
    QMenu* menu_ = nullptr;
    QAction* moduleTestAction_ = nullptr;
    std::unique_ptr<ModuleTestDialog> dialog_;
};

}  // namespace vitalon
