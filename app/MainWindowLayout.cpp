#include "MainWindowLayout.h"

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <cstdint>

#include "Colors.h"
#include "GraphWidget.h"
#include "PortMessages.h"
#include "SystemColors.h"

namespace vitalon {

namespace {

// Sizes in pixels. The client area is what lies below the menu bar; the
// status bar covers its bottom 25 pixels.
constexpr int kClientWidth = 802;
constexpr int kClientHeight = 415;
constexpr int kStatusBarHeight = 25;
constexpr int kStatusPanelWidth = 96;
constexpr std::uint32_t kWindowFrame = colors::SystemFlag | 6u;

enum class FontKind { Window, Value, Note };  // 9.75 pt, 60 pt bold, 8.25 pt
enum class Back { Default, Transparent, Window, Menu };

struct LabelDesign {
    QLabel* MainWindowLayout::*member;
    int x, y, w, h;
    const char* caption;
    FontKind font;
    Qt::Alignment align;
    bool box;
    std::uint32_t fore;  // 0: the default text colour
    Back back;
    bool wrap;
};

constexpr Qt::Alignment L = Qt::AlignLeft;
constexpr Qt::Alignment C = Qt::AlignHCenter;
constexpr Qt::Alignment R = Qt::AlignRight;
constexpr auto W = FontKind::Window;
constexpr auto V = FontKind::Value;
constexpr auto N = FontKind::Note;

// clang-format off
const LabelDesign kLabels[] = {
    // value column
    {&MainWindowLayout::pulseLabel,           608,   8, 176, 96, "000",           V, C, true,  colors::PulseGreen, Back::Window,      false},
    {&MainWindowLayout::pulseCaption,         608, 104,  89, 17, "Pulse [1/min]", W, L, false, 0,                  Back::Default,     false},
    {&MainWindowLayout::respirationLabel,     608, 120, 176, 96, "000",           V, C, true,  colors::RespOrange, Back::Window,      false},
    {&MainWindowLayout::respirationCaption,   608, 216,  89, 17, "Resp [1/min]",  W, L, false, 0,                  Back::Default,     false},
    {&MainWindowLayout::respirationModelNote, 712, 216,  73, 17, "TR71010 only",  N, R, false, 0,                  Back::Transparent, false},
    {&MainWindowLayout::statusCaption,        608, 264,  57, 17, "Status",        W, L, false, 0,                  Back::Default,     false},
    {&MainWindowLayout::statusLabel,          688, 256,  97, 25, "No Data!",      W, C, true,  0,                  Back::Menu,        false},
    {&MainWindowLayout::titleLabel,           640, 352, 121, 33, "TR71000 and TR71010 Test ProgramV1.4",
                                                                                  N, L, false, colors::TitleGrey,  Back::Default,     true},
    // setting row: each label above the button whose setting it shows
    {&MainWindowLayout::speedLabel,           8, 280, 73, 25, "100/sec", W, C, true, 0, Back::Default, false},
    {&MainWindowLayout::amplificationLabel,  88, 280, 73, 25, "Amp 1",   W, C, true, 0, Back::Default, false},
    {&MainWindowLayout::modeLabel,          168, 280, 73, 25, "Normal",  W, C, true, 0, Back::Default, false},
    {&MainWindowLayout::filterLabel,        248, 280, 73, 25, "50 Hz",   W, C, true, 0, Back::Default, false},
    {&MainWindowLayout::leadLabel,          424, 280, 73, 25, "II",      W, C, true, 0, Back::Default, false},
    {&MainWindowLayout::curveLabel,         504, 280, 73, 25, "EKG",     W, C, true, 0, Back::Default, false},
    // model notes under the buttons
    {&MainWindowLayout::modeModelNote,  168, 360, 73, 17, "TR71000 only", N, R, false, 0, Back::Transparent, false},
    {&MainWindowLayout::leadModelNote,  424, 360, 73, 25, "TR71010 only", N, L, false, 0, Back::Transparent, false},
    {&MainWindowLayout::curveModelNote, 504, 360, 73, 25, "TR71010 only", N, L, false, 0, Back::Transparent, false},
};

struct ButtonDesign {
    QPushButton* MainWindowLayout::*member;
    int x;
    const char* caption;
};

// In focus order, left to right.
const ButtonDesign kButtons[] = {
    {&MainWindowLayout::speedButton,           8, "Speed"},
    {&MainWindowLayout::amplificationButton,  88, "Amplitude"},
    {&MainWindowLayout::modeButton,          168, "Mode"},
    {&MainWindowLayout::filterButton,        248, "Filter"},
    {&MainWindowLayout::calibrateButton,     328, "Calibrate"},
    {&MainWindowLayout::leadButton,          424, "Channel"},
    {&MainWindowLayout::curveButton,         504, "Curve"},
};
// clang-format on
constexpr int kButtonTop = 320;
constexpr int kButtonWidth = 73;
constexpr int kButtonHeight = 33;

QFont arial(double points, bool bold = false) {
    QFont font(QStringLiteral("Arial"));  // fontconfig maps it to a metric-compatible face
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// A label with a single-line border in the desktop's window-frame colour.
// QFrame draws a plain box in the text colour, which would turn the borders of
// the green and orange value labels green and orange.
class BoxLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        const QWidget* parent = parentWidget();
        const QColor frame =
            resolveColor(kWindowFrame, parent ? parent->palette() : QApplication::palette());
        QPainter painter(this);
        painter.fillRect(0, 0, width(), 1, frame);
        painter.fillRect(0, height() - 1, width(), 1, frame);
        painter.fillRect(0, 0, 1, height(), frame);
        painter.fillRect(width() - 1, 0, 1, height(), frame);
    }
};

// The status bar's panel: text() keeps the whole message; what is painted is
// elided to the panel's width, so a long message never widens the window; the
// window sets the whole message as the tooltip.
class StatusPanel : public QLabel {
public:
    using QLabel::QLabel;

    QSize minimumSizeHint() const override {
        return {minimumWidth(), QLabel::minimumSizeHint().height()};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const QString full = text();
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        const QRect area = contentsRect();
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(full, Qt::ElideRight, area.width()));
    }
};

QLabel* makeLabel(QWidget* parent, const LabelDesign& d, const QPalette& desktop) {
    QLabel* label = d.box ? new BoxLabel(parent) : new QLabel(parent);
    label->setGeometry(d.x, d.y, d.w, d.h);
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromLatin1(d.caption));
    // Text from the top edge as designed; QLabel would otherwise indent framed
    // text by half an 'x', which pushes the 60-point values out of their boxes.
    label->setAlignment(d.align | Qt::AlignTop);
    label->setIndent(0);
    label->setWordWrap(d.wrap);
    if (d.box) {
        label->setFrameStyle(QFrame::Box | QFrame::Plain);
        label->setLineWidth(1);
    }
    if (d.font == FontKind::Value) {
        label->setFont(arial(60.0, true));
    } else if (d.font == FontKind::Note) {
        label->setFont(arial(8.25));
    }

    QPalette palette = label->palette();
    if (d.fore != 0) {
        palette.setColor(QPalette::WindowText, resolveColor(d.fore, desktop));
    }
    switch (d.back) {
        case Back::Window:
            palette.setColor(QPalette::Window, resolveColor(colors::WindowBackground, desktop));
            break;
        case Back::Menu:
            palette.setColor(QPalette::Window, resolveColor(colors::MenuBackground, desktop));
            break;
        case Back::Default:  // the window's own (dialog) colour, painted opaque
        case Back::Transparent:
            break;
    }
    label->setPalette(palette);
    label->setAutoFillBackground(d.back != Back::Transparent);
    return label;
}

// The design name of every control, set as its objectName in one place.
void nameControls(QMainWindow& window, const MainWindowLayout& l) {
    // clang-format off
    const std::pair<QObject*, const char*> names[] = {
        {&window, "Form1"},
        {l.graph, "Graph"},
        {l.pulseLabel, "Label1"},               {l.pulseCaption, "Label6"},
        {l.respirationLabel, "Label3"},         {l.respirationCaption, "Label5"},
        {l.respirationModelNote, "Label8"},     {l.statusLabel, "Label4"},
        {l.statusCaption, "Label7"},            {l.titleLabel, "Label20"},
        {l.logo, "Image1"},
        {l.speedLabel, "Labelspeed"},           {l.amplificationLabel, "LabelAmp"},
        {l.modeLabel, "Labelsim"},              {l.filterLabel, "Labelfilter"},
        {l.leadLabel, "LabelChannel"},          {l.curveLabel, "LabelCurve"},
        {l.modeModelNote, "Label9"},            {l.leadModelNote, "Label2"},
        {l.curveModelNote, "Label10"},
        {l.speedButton, "Speed"},               {l.amplificationButton, "Amplification"},
        {l.modeButton, "Simmode"},              {l.filterButton, "Filter"},
        {l.calibrateButton, "Calibrate"},       {l.leadButton, "Channel"},
        {l.curveButton, "Curve"},
        {l.fileMenu, "menDatei"},               {l.quitAction, "menEnde"},
        {l.portMenu, "menPort"},
        {l.portActions[0], "setCOM1"},          {l.portActions[1], "setCOM2"},
        {l.portActions[2], "setCOM3"},          {l.portActions[3], "setCOM4"},
        {l.portActions[4], "setCOM5"},          {l.portActions[5], "setCOM6"},
        {l.portActions[6], "setCOM7"},          {l.portActions[7], "setCOM8"},
        {l.reconnectAction, "setReconnect"},
        {l.toneMenu, "menBeep"},                {l.pulseToneAction, "setBeep"},
        {l.statusBar, "StsBar1"},               {l.statusPanel, "statusPanel"},
    };
    // clang-format on
    for (const auto& [object, name] : names) {
        object->setObjectName(QString::fromLatin1(name));
    }
}

}  // namespace

MainWindowLayout buildMainWindowLayout(QMainWindow& window) {
    MainWindowLayout ui;
    window.setWindowTitle(QStringLiteral("Vitalon"));
    window.setFont(arial(9.75));
    QIcon icon;
    icon.addFile(QStringLiteral(":/images/icon-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/images/icon-32.png"), QSize(32, 32));
    window.setWindowIcon(icon);

    // Controls stand at fixed places in the client area; no layout moves them
    // when the window is resized.
    auto* client = new QWidget(&window);
    client->setObjectName(QStringLiteral("client"));
    window.setCentralWidget(client);
    const QPalette desktop = window.palette();

    ui.graph = new GraphWidget(client);
    ui.graph->setGeometry(8, 8, 577, 257);

    for (const LabelDesign& d : kLabels) {
        ui.*d.member = makeLabel(client, d, desktop);
    }

    ui.logo = new QLabel(client);
    ui.logo->setGeometry(600, 296, 200, 45);
    ui.logo->setTextFormat(Qt::PlainText);
    ui.logo->setPixmap(QPixmap(QStringLiteral(":/images/logo.png")));
    ui.logo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QWidget* previous = ui.graph;
    for (const ButtonDesign& d : kButtons) {
        auto* button = new QPushButton(QString::fromLatin1(d.caption), client);
        button->setGeometry(d.x, kButtonTop, kButtonWidth, kButtonHeight);
        button->setAutoDefault(false);
        QWidget::setTabOrder(previous, button);
        previous = button;
        ui.*d.member = button;
    }

    QMenuBar* menuBar = window.menuBar();
    ui.fileMenu = menuBar->addMenu(QStringLiteral("&File"));
    ui.quitAction = ui.fileMenu->addAction(QStringLiteral("&End"));

    ui.portMenu = menuBar->addMenu(QStringLiteral("&Port"));
    for (std::size_t i = 0; i < ui.portActions.size(); ++i) {
        QAction* item = ui.portMenu->addAction(
            QString::fromStdString(comName(static_cast<std::uint8_t>(i + 1))));
        item->setCheckable(true);
        ui.portActions[i] = item;
    }
    ui.portActions[0]->setChecked(true);
    ui.reconnectAction = ui.portMenu->addAction(QStringLiteral("Reconnect Automatically"));
    ui.reconnectAction->setCheckable(true);
    ui.reconnectAction->setChecked(true);

    ui.toneMenu = menuBar->addMenu(QStringLiteral("&Tone"));
    ui.pulseToneAction = ui.toneMenu->addAction(QStringLiteral("Pulse Tone"));
    ui.pulseToneAction->setCheckable(true);
    ui.pulseToneAction->setChecked(true);

    // The status bar follows the bottom edge; its one panel is at least 96
    // pixels wide, widens to fit a longer message, and elides one wider than the bar.
    ui.statusBar = new QStatusBar(&window);
    ui.statusBar->setFixedHeight(kStatusBarHeight);
    window.setStatusBar(ui.statusBar);
    ui.statusPanel = new StatusPanel(ui.statusBar);
    ui.statusPanel->setTextFormat(Qt::PlainText);
    ui.statusPanel->setMinimumWidth(kStatusPanelWidth);
    ui.statusBar->addWidget(ui.statusPanel, 1);

    nameControls(window, ui);

    // Client area of 802 x 415 below the menu bar, centred on the screen.
    const int menuHeight = menuBar->isNativeMenuBar() ? 0 : menuBar->sizeHint().height();
    const QSize size(kClientWidth, menuHeight + kClientHeight);
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size,
                                               screen->availableGeometry()));
    } else {
        window.resize(size);
    }
    return ui;
}

}  // namespace vitalon
