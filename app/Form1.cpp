#include "Form1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <cstdio>

#include "GraphWidget.h"

namespace vitalon {
namespace {

std::array<std::unique_ptr<QtMenuItem>, 8> wrapPortItems(const Form1Ui& ui) {
    std::array<std::unique_ptr<QtMenuItem>, 8> items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i] = std::make_unique<QtMenuItem>(ui.setCOM[i]);
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

}  // namespace

Form1::Form1(PortAssignment devices, QWidget* parent)
    : QMainWindow(parent),
      ui_(buildForm1Ui(*this)),
      MSComm1(std::move(devices)),
      Label1_(ui_.Label1),
      Label3_(ui_.Label3),
      Label4_(ui_.Label4),
      Labelspeed_(ui_.Labelspeed),
      LabelAmp_(ui_.LabelAmp),
      Labelfilter_(ui_.Labelfilter),
      Labelsim_(ui_.Labelsim),
      LabelChannel_(ui_.LabelChannel),
      LabelCurve_(ui_.LabelCurve),
      setCOM_(wrapPortItems(ui_)),
      setBeep_(ui_.setBeep),
      ports_(MSComm1, rawItems(setCOM_)),
      selectors_({Labelspeed_, LabelAmp_, Labelfilter_, Labelsim_, LabelChannel_, LabelCurve_},
                 MSComm1),
      trace_(*ui_.Graph),
      panel_(Label1_, Label3_, Label4_, setBeep_, tone_),
      display_(trace_, panel_) {
    // Each port number's menu item names the device it stands for.
    for (std::size_t i = 0; i < ui_.setCOM.size(); ++i) {
        const auto& device = MSComm1.devices()[i];
        QString tip = device ? QString::fromStdString(device->path) : tr("no serial device");
        if (device && !device->description.empty()) {
            tip += QStringLiteral(" - ") + QString::fromStdString(device->description);
        }
        ui_.setCOM[i]->setStatusTip(tip);
        ui_.setCOM[i]->setToolTip(tip);
    }
    tone_.onUnavailable = [this](const std::string& text) { status(text); };
    MSComm1.OnComm = [this] { MSComm1_OnComm(); };

    // The watchdog ticks from the window's creation on; nothing stops it but shutdown.
    Timer3.setInterval(2000);
    connect(&Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
    Timer3.start();
    connectControls();
}

Form1::~Form1() {
    MSComm1.OnComm = nullptr;
    if (!ended_) {
        try {
            ports_.closeAtShutdown();
        } catch (const std::exception&) {
            // Closing at destruction has nobody left to tell.
        }
    }
}

void Form1::connectControls() {
    connect(ui_.menEnde, &QAction::triggered, this, &Form1::menEnde);
    for (std::size_t i = 0; i < ui_.setCOM.size(); ++i) {
        const auto n = static_cast<std::uint8_t>(i + 1);
        QAction* action = ui_.setCOM[i];
        connect(action, &QAction::triggered, this, [this, action, n](bool toggled) {
            undoAutoToggle(action, toggled);
            setCOM_Click(n);
        });
    }
    connect(ui_.setBeep, &QAction::triggered, this, [this](bool toggled) {
        undoAutoToggle(ui_.setBeep, toggled);
        setBeep_Click();
    });
    connect(ui_.Speed, &QPushButton::clicked, this, &Form1::Speed_Click);
    connect(ui_.Amplification, &QPushButton::clicked, this, &Form1::Amplification_Click);
    connect(ui_.Filter, &QPushButton::clicked, this, &Form1::Filter_Click);
    connect(ui_.Simmode, &QPushButton::clicked, this, &Form1::Simmode_Click);
    connect(ui_.Channel, &QPushButton::clicked, this, &Form1::Channel_Click);
    connect(ui_.Curve, &QPushButton::clicked, this, &Form1::Curve_Click);
    connect(ui_.Calibrate, &QPushButton::clicked, this, &Form1::Calibrate_Click);
}

void Form1::Form_Load() {
    guarded([this] {
        for (const auto& item : setCOM_) {
            item->Enabled(true);
        }
        PortNo_ = ports_.FindComPort();

        // Port 0 has no device: start without an open port and say why none opened.
        if (PortNo_ == 0) {
            status(noPortAtStartStatus(ports_.probeFailures()));
        } else {
            try {
                ports_.configure(PortNo_);
                status(openPortStatus(PortNo_, MSComm1.devicePath(PortNo_)));
            } catch (const PortError& e) {
                status(openFailureStatus(PortNo_, e));
            }
        }

        setBeep_.Checked(false);
        selectors_.applyStartValues();
        if (MSComm1.PortOpen()) {
            selectors_.sendStartCommands();
        }
    });
}

void Form1::Form_Unload() {
    if (ended_) {
        return;
    }
    ended_ = true;
    Timer3.stop();
    MSComm1.OnComm = nullptr;
    try {
        ports_.closeAtShutdown();
    } catch (const std::exception&) {
        // The program ends either way; a failing close must not keep it alive.
    }
    QCoreApplication::exit(0);
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void Form1::menEnde() {
    Form_Unload();
    close();
}

void Form1::setCOM_Click(std::uint8_t n) {
    guarded([this, n] {
        try {
            ports_.setCOM_Click(n);
            status(openPortStatus(n, MSComm1.devicePath(n)));
        } catch (const PortError& e) {
            status(openFailureStatus(n, e));
        }
    });
}

void Form1::Speed_Click() {
    guarded([this] { selectors_.Speed_Click(); });
}
void Form1::Amplification_Click() {
    guarded([this] { selectors_.Amplification_Click(); });
}
void Form1::Filter_Click() {
    guarded([this] { selectors_.Filter_Click(); });
}
void Form1::Simmode_Click() {
    guarded([this] { selectors_.Simmode_Click(); });
}
void Form1::Channel_Click() {
    guarded([this] { selectors_.Channel_Click(); });
}
void Form1::Curve_Click() {
    guarded([this] { selectors_.Curve_Click(); });
}
void Form1::Calibrate_Click() {
    guarded([this] { selectors_.Calibrate_Click(); });
}

void Form1::MSComm1_OnComm() {
    guarded([this] {
        if (MSComm1.CommEvent() == comm_event::Lost) {
            const std::int16_t n = MSComm1.commPort();
            status(portLostStatus(static_cast<std::uint8_t>(n), MSComm1.devicePath(n),
                                  MSComm1.lastError()));
            return;
        }
        bytesDecoded_ += receiveFromPort(MSComm1, decoder_, display_);
    });
}

void Form1::Timer3_Timer() {
    guarded([this] { panel_.WatchdogTick(); });
}

void Form1::setBeep_Click() {
    guarded([this] { panel_.setBeep_Click(); });
}

QString Form1::statusText() const {
    return ui_.statusPanel->text();
}

void Form1::status(const std::string& text) {
    const QString message = QString::fromStdString(text);
    if (message == ui_.statusPanel->text()) {
        return;
    }
    ui_.statusPanel->setText(message);
    // Echoed on standard error too, for a bench started from a terminal or a script.
    std::fprintf(stderr, "vitalon: %s\n", text.c_str());
}

void Form1::guarded(const std::function<void()>& handler) {
    if (ended_) {
        return;
    }
    try {
        handler();
    } catch (const std::exception& e) {
        status(e.what());
    }
}

}  // namespace vitalon
