#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <cstdio>

#include "GraphWidget.h"
#include "HotplugPorts.h"
#include "ModuleTestControl.h"
#include "RecordingControl.h"
#include "ReviewControl.h"

namespace vitalon {
namespace {

std::array<std::unique_ptr<QtMenuItem>, 8> wrapPortItems(const MainWindowLayout& ui) {
    std::array<std::unique_ptr<QtMenuItem>, 8> items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i] = std::make_unique<QtMenuItem>(ui.portActions[i]);
    }
    return items;
}

std::array<MenuItem*, 8> rawItems(const std::array<std::unique_ptr<QtMenuItem>, 8>& items) {
    std::array<MenuItem*, 8> raw{};
    for (std::size_t i = 0; i < items.size(); ++i) {
        raw[i] = items[i].get();
    }
    return raw;
}

// Qt flips a checkable action's mark before it reports the click; the handlers
// own the check marks, so the automatic flip is undone first.
void undoAutoToggle(QAction* action, bool toggled) {
    action->setChecked(!toggled);
}

constexpr int kWatchdogIntervalMs = 2000;

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
      pulseToneItem_(ui_.pulseToneAction),
      ports_(link_, std::move(devices), rawItems(portItems_)),
      selectors_(
          {speedLabel_, amplificationLabel_, filterLabel_, modeLabel_, leadLabel_, curveLabel_},
          commandTap_),
      trace_(*ui_.graph),
      panel_(pulseLabel_, respirationLabel_, statusLabel_, pulseToneItem_, tone_),
      display_(trace_, panel_),
      linkController_(link_, ports_, selectors_,
                      [this](const std::string& text) { showStatus(text); }),
      reconnect_(ui_.reconnectAction, ui_.portActions, linkController_, ports_,
                 [this](const std::string& text) { showStatus(text); }) {
    linkController_.addChunkListener(decoder_);
    decoder_.addListener(display_);

    // Each port number's menu item names the device it stands for.
    for (std::size_t i = 0; i < ui_.portActions.size(); ++i) {
        const QString tip = QString::fromStdString(portItemTip(ports_.devices()[i], true));
        ui_.portActions[i]->setStatusTip(tip);
        ui_.portActions[i]->setToolTip(tip);
    }
    tone_.onUnavailable = [this](const std::string& text) { showStatus(text); };

    // The watchdog ticks from the window's creation on; nothing stops it but shutdown.
    watchdogTimer_.setInterval(kWatchdogIntervalMs);
    connect(&watchdogTimer_, &QTimer::timeout, this, &MainWindow::watchdogTick);
    watchdogTimer_.start();
    connectControls();

    recording_ = std::make_unique<RecordingControl>(*this, commandTap_);
    review_ = std::make_unique<ReviewControl>(*this, trace_);
    review_->onFrozenChanged = [this](bool frozen) {
        recording_->annotate(frozen ? "Freeze" : "Unfreeze");
    };
    connect(this, &MainWindow::watchdogTicked, recording_.get(), &RecordingControl::watchdogTicked);
    moduleTest_ = std::make_unique<ModuleTestControl>(*this);
}

MainWindow::~MainWindow() {
    shutDown();
}

void MainWindow::connectControls() {
    connect(ui_.quitAction, &QAction::triggered, this, &MainWindow::quit);
    for (std::size_t i = 0; i < ui_.portActions.size(); ++i) {
        const auto n = static_cast<std::uint8_t>(i + 1);
        QAction* action = ui_.portActions[i];
        connect(action, &QAction::triggered, this, [this, action, n](bool toggled) {
            undoAutoToggle(action, toggled);
            guarded([this, n] { linkController_.pick(n); });
        });
    }
    connect(ui_.pulseToneAction, &QAction::triggered, this, [this](bool toggled) {
        undoAutoToggle(ui_.pulseToneAction, toggled);
        guarded([this] { panel_.togglePulseTone(); });
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
                [this, click = click] { guarded([this, click] { (selectors_.*click)(); }); });
    }
}

void MainWindow::start() {
    guarded([this] {
        pulseToneItem_.setChecked(false);
        reconnect_.start();
        linkController_.start();
    });
}

void MainWindow::shutDown() {
    if (ended_) {
        return;
    }
    ended_ = true;
    watchdogTimer_.stop();
    if (recording_) {
        recording_->stopRecording();  // the files are complete before the link closes
    }
    reconnect_.shutdown();
    try {
        linkController_.shutdown();
    } catch (const std::exception&) {
        // The program ends either way; a failing close must not keep it alive.
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    shutDown();
    QCoreApplication::exit(0);
    event->accept();
}

void MainWindow::quit() {
    shutDown();
    QCoreApplication::exit(0);
    close();
}

void MainWindow::watchdogTick() {
    guarded([this] {
        panel_.watchdogTick();
        emit watchdogTicked();
    });
}

QString MainWindow::statusText() const {
    return ui_.statusPanel->text();
}

void MainWindow::showStatus(const std::string& text) {
    const QString message = QString::fromStdString(text);
    if (message == ui_.statusPanel->text()) {
        return;
    }
    ui_.statusPanel->setText(message);
    ui_.statusPanel->setToolTip(message);
    // Echoed on standard error too, for a bench started from a terminal or a script.
    std::fprintf(stderr, "vitalon: %s\n", text.c_str());
}

void MainWindow::guarded(const std::function<void()>& handler) {
    if (ended_) {
        return;
    }
    try {
        handler();
    } catch (const std::exception& e) {
        showStatus(e.what());
    }
}

}  // namespace vitalon
