#include "ModuleTestControl.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <string>

#include "DialogPlacement.h"
#include "ModuleTestDialog.h"
#include "Station.h"

namespace vitalon {

ModuleTestControl::ModuleTestControl(Station& station, QMainWindow& window)
    : station_(station), window_(window) {
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
    if (!dialog_->isVisible()) {
        placeBesideWindow(*dialog_);
    }
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
    return *dialog_;
}

void ModuleTestControl::placeBesideWindow(QWidget& tool) {
    const QScreen* screen = window_.screen();
    if (screen == nullptr) {
        return;
    }
    // A window not shown yet has no frame: the main window's tells its size.
    const QSize decoration = window_.frameGeometry().size() - window_.geometry().size();
    const QSize wanted = tool.size() + decoration;
    const QSize minimum = tool.minimumSizeHint().expandedTo(tool.minimumSize()) + decoration;
    const Placement placement =
        placeBeside(screen->availableGeometry(), window_.frameGeometry(), wanted, minimum);
    if (placement.windowTopLeft != window_.frameGeometry().topLeft()) {
        window_.move(placement.windowTopLeft);
    }
    tool.resize(placement.dialog.size() - decoration);
    tool.move(placement.dialog.topLeft());
}

std::uint8_t ModuleTestControl::currentPort() const {
    return station_.currentPort();
}

bool ModuleTestControl::servesSimulatedModule() const {
    return station_.servesSimulatedModule();
}

bool ModuleTestControl::onSimulatedModule() const {
    return station_.onSimulatedModule();
}

std::unique_ptr<ModuleTestSession> ModuleTestControl::makeSession(ModuleTestSetup setup) {
    return station_.makeModuleTest(std::move(setup));
}

bool ModuleTestControl::endRunThen(std::function<void()> then) {
    if (!dialog_ || !dialog_->running()) {
        return false;
    }
    // Queued: the run finishes inside the handling of a received chunk, which
    // must not see the link closed under it.
    connect(
        dialog_->session(), &ModuleTestSession::finished, this,
        [then = std::move(then)] { then(); }, Qt::QueuedConnection);
    dialog_->cancel();
    return true;
}

}  // namespace vitalon
