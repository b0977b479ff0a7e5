#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

#include "GraphWidget.h"
#include "HotplugPorts.h"
#include "ModuleTestControl.h"
#include "RecordingControl.h"
#include "ResultsControl.h"
#include "ReviewControl.h"
#include "SerialDeviceIdentity.h"

namespace vitalon {
namespace {

std::array<std::unique_ptr<QtMenuItem>, 8> wrapPortItems(const MainWindowLayout& ui) {
    std::array<std::unique_ptr<QtMenuItem>, 8> items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i] = std::make_unique<QtMenuItem>(ui.portActions[i]);
    }
    return items;
}

// Qt flips a checkable action's mark before it reports the click; the handlers
// own the check marks, so the automatic flip is undone first.
void undoAutoToggle(QAction* action, bool toggled) {
    action->setChecked(!toggled);
}

void setPortTip(QAction* item, const QString& tip) {
    item->setStatusTip(tip);
    item->setToolTip(tip);
}

}  // namespace

MainWindow::MainWindow(PortAssignment devices, QWidget* parent)
    : QMainWindow(parent),
      ui_(buildMainWindowLayout(*this)),
      pulseLabel_(ui_.pulseLabel),
      respirationLabel_(ui_.respirationLabel),
      statusLabel_(ui_.statusLabel),
      speedLabel_(ui_.speedLabel),
      amplificationLabel_(ui_.amplificationLabel),
      filterLabel_(ui_.filterLabel),
      modeLabel_(ui_.modeLabel),
      leadLabel_(ui_.leadLabel),
      curveLabel_(ui_.curveLabel),
      portItems_(wrapPortItems(ui_)),
      pulseToneItem_(ui_.pulseToneAction) {
    StationViews views;
    views.pulse = &pulseLabel_;
    views.respiration = &respirationLabel_;
    views.status = &statusLabel_;
    views.speed = &speedLabel_;
    views.amplification = &amplificationLabel_;
    views.filter = &filterLabel_;
    views.mode = &modeLabel_;
    views.lead = &leadLabel_;
    views.curve = &curveLabel_;
    for (std::size_t i = 0; i < portItems_.size(); ++i) {
        views.portItems[i] = portItems_[i].get();
    }
    views.pulseTone = &pulseToneItem_;
    views.trace = ui_.graph;
    views.tone = &tone_;
    auto link = std::make_unique<QtSerialLink>();
    link_ = link.get();
    station_ =
        std::make_unique<Station>(std::move(link), std::make_unique<SerialDeviceIdentityProvider>(),
                                  std::move(devices), views);
    connect(station_.get(), &Station::statusReported, this, &MainWindow::showStatus);

    // Each port number's menu item names the device it stands for.
    for (std::size_t i = 0; i < ui_.portActions.size(); ++i) {
        setPortTip(ui_.portActions[i],
                   QString::fromStdString(portItemTip(station_->ports().devices()[i], true)));
    }
    tone_.onUnavailable = [this](const std::string& text) { station_->report(text); };

    ReconnectControl& reconnect = station_->reconnect();
    ui_.reconnectAction->setChecked(reconnect.enabled());
    connect(ui_.reconnectAction, &QAction::triggered, &reconnect,
            &ReconnectControl::setEnabledByUser);
    connect(&reconnect, &ReconnectControl::enabledChanged, ui_.reconnectAction,
            &QAction::setChecked);
    connect(&reconnect, &ReconnectControl::portTipChanged, this,
            [this](int port, const QString& tip) {
                if (port >= 1 && port <= 8) {
                    setPortTip(ui_.portActions[static_cast<std::size_t>(port - 1)], tip);
                }
            });
    connectControls();

    recording_ = std::make_unique<RecordingControl>(station_->recording(), *this, ui_.fileMenu,
                                                    ui_.statusBar);
    review_ = std::make_unique<ReviewControl>(
        station_->trace(), *this, ui_.statusBar,
        [this](const std::string& text) { station_->report(text); });
    review_->onFrozenChanged = [this](bool frozen) {
        station_->recording().annotate(frozen ? "Freeze" : "Unfreeze");
    };
    moduleTest_ = std::make_unique<ModuleTestControl>(*station_, *this);
    results_ = std::make_unique<ResultsControl>(*this, moduleTest_->menu(), ui_.statusBar);
    moduleTest_->setResultsStore([this] { return results_->store(); });
    // Every run of the dialog is filed before its verdict shows.
    station_->setResultsStore([this] { return results_->store(); });
}

MainWindow::~MainWindow() {
    moduleTest_.reset();
    station_->shutDown();
}

void MainWindow::connectControls() {
    connect(ui_.quitAction, &QAction::triggered, this, &MainWindow::quit);
    for (std::size_t i = 0; i < ui_.portActions.size(); ++i) {
        const auto n = static_cast<std::uint8_t>(i + 1);
        QAction* action = ui_.portActions[i];
        connect(action, &QAction::triggered, this, [this, action, n](bool toggled) {
            undoAutoToggle(action, toggled);
            station_->pickPort(n);
        });
    }
    connect(ui_.pulseToneAction, &QAction::triggered, this, [this](bool toggled) {
        undoAutoToggle(ui_.pulseToneAction, toggled);
        station_->togglePulseTone();
    });
    const std::pair<QPushButton*, void (SettingSelectors::*)()> buttons[] = {
        {ui_.speedButton, &SettingSelectors::cycleSpeed},
        {ui_.amplificationButton, &SettingSelectors::cycleAmplification},
        {ui_.filterButton, &SettingSelectors::cycleFilter},
        {ui_.modeButton, &SettingSelectors::cycleMode},
        {ui_.leadButton, &SettingSelectors::cycleLead},
        {ui_.curveButton, &SettingSelectors::cycleCurve},
        {ui_.calibrateButton, &SettingSelectors::calibrate},
    };
    for (const auto& [button, click] : buttons) {
        connect(button, &QPushButton::clicked, this,
                [this, click = click] { station_->clickSetting(click); });
    }
}

void MainWindow::start() {
    station_->start();
}

bool MainWindow::waitsForModuleTest() {
    if (endRequested_) {
        return false;  // asked again, or the test has finished: end now
    }
    endRequested_ = true;
    if (!moduleTest_->endRunThen([this] { quit(); })) {
        return false;
    }
    showStatus(
        QStringLiteral("Restoring the module before Vitalon ends (quit again to end at "
                       "once)."));
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (waitsForModuleTest()) {
        event->ignore();
        return;
    }
    station_->shutDown();
    QCoreApplication::exit(0);
    event->accept();
}

void MainWindow::quit() {
    if (waitsForModuleTest()) {
        return;
    }
    station_->shutDown();
    QCoreApplication::exit(0);
    close();
}

QString MainWindow::statusText() const {
    return ui_.statusPanel->text();
}

void MainWindow::showStatus(const QString& text) {
    ui_.statusPanel->setText(text);
    ui_.statusPanel->setToolTip(text);
}

}  // namespace vitalon
