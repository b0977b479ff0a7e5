#include "ModuleTestControl.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <string>

#include "MainWindow.h"
#include "ModuleTestDialog.h"

namespace vitalon {

ModuleTestControl::ModuleTestControl(MainWindow& window) : window_(window) {
    // After the window's own menus; named in the style of the window's controls.
    menu_ = window.menuBar()->addMenu(QStringLiteral("&Test"));
    moduleTestAction_ = menu_->addAction(QStringLiteral("&Module Test..."));
    menu_->setObjectName(QStringLiteral("menTest"));
    moduleTestAction_->setObjectName(QStringLiteral("menModuleTest"));
    connect(moduleTestAction_, &QAction::triggered, this, [this] { showDialog(); });
}

ModuleTestControl::~ModuleTestControl() = default;

ModuleTestDialog& ModuleTestControl::showDialog() {
    if (!dialog_) {
        dialog_ = std::make_unique<ModuleTestDialog>(*this, &window_);
    }
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
    return *dialog_;
}

std::uint8_t ModuleTestControl::currentPort() const {
    return window_.currentPort();
}

bool ModuleTestControl::onSimulatedModule() const {
    const std::uint8_t port = window_.currentPort();
    return port != 0 && !simulatedDevice_.empty() &&
           window_.ports().devicePath(port) == simulatedDevice_;
}

std::unique_ptr<ModuleTestSession> ModuleTestControl::makeSession(ModuleTestSetup setup) {
    const std::uint8_t port = window_.currentPort();
    ModuleTestWiring wiring{window_.selectors(),
                            window_.decoder(),
                            {port, window_.ports().devicePath(port)},
                            [this](const std::string& text) { window_.showStatus(text); }};
    return std::make_unique<ModuleTestSession>(std::move(wiring), std::move(setup));
}

}  // namespace vitalon
