#include "Form1Ui.h"

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
#include "SystemColors.h"

namespace vitalon {

namespace {

// Pixel sizes at 15 twips per pixel. The client area is what lies below the
// menu bar; the status bar covers its bottom 25 pixels.
constexpr int kClientWidth = 802;
constexpr int kClientHeight = 415;
constexpr int kStatusBarHeight = 25;
constexpr int kStatusPanelWidth = 96;
constexpr std::uint32_t kWindowFrame = colors::SystemFlag | 6u;

enum class FontKind { Window, Value, Note };  // 9.75 pt, 60 pt bold, 8.25 pt
enum class Back { Default, Transparent, Window, Menu };

struct LabelDesign {
    QLabel* Form1Ui::*member;
    const char* name;
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
    {&Form1Ui::Label1, "Label1", 608,   8, 176, 96, "000",           V, C, true,  colors::PulseGreen, Back::Window,      false},
    {&Form1Ui::Label6, "Label6", 608, 104,  89, 17, "Pulse [1/min]", W, L, false, 0,                  Back::Default,     false},
    {&Form1Ui::Label3, "Label3", 608, 120, 176, 96, "000",           V, C, true,  colors::RespOrange, Back::Window,      false},
    {&Form1Ui::Label5, "Label5", 608, 216,  89, 17, "Resp [1/min]",  W, L, false, 0,                  Back::Default,     false},
    {&Form1Ui::Label8, "Label8", 712, 216,  73, 17, "TR71010 only",  N, R, false, 0,                  Back::Transparent, false},
    {&Form1Ui::Label7, "Label7", 608, 264,  57, 17, "Status",        W, L, false, 0,                  Back::Default,     false},
    {&Form1Ui::Label4, "Label4", 688, 256,  97, 25, "No Data!",      W, C, true,  0,                  Back::Menu,        false},
    {&Form1Ui::Label20, "Label20", 640, 352, 121, 33, "TR71000 and TR71010 Test ProgramV1.4",
                                                                     N, L, false, colors::TitleGrey,  Back::Default,     true},
    // setting row: each label above the button whose setting it shows
    {&Form1Ui::Labelspeed,   "Labelspeed",     8, 280, 73, 25, "100/sec", W, C, true, 0, Back::Default, false},
    {&Form1Ui::LabelAmp,     "LabelAmp",      88, 280, 73, 25, "Amp 1",   W, C, true, 0, Back::Default, false},
    {&Form1Ui::Labelsim,     "Labelsim",     168, 280, 73, 25, "Normal",  W, C, true, 0, Back::Default, false},
    {&Form1Ui::Labelfilter,  "Labelfilter",  248, 280, 73, 25, "50 Hz",   W, C, true, 0, Back::Default, false},
    {&Form1Ui::LabelChannel, "LabelChannel", 424, 280, 73, 25, "II",      W, C, true, 0, Back::Default, false},
    {&Form1Ui::LabelCurve,   "LabelCurve",   504, 280, 73, 25, "EKG",     W, C, true, 0, Back::Default, false},
    // model notes under the buttons
    {&Form1Ui::Label9,  "Label9",  168, 360, 73, 17, "TR71000 only", N, R, false, 0, Back::Transparent, false},
    {&Form1Ui::Label2,  "Label2",  424, 360, 73, 25, "TR71010 only", N, L, false, 0, Back::Transparent, false},
    {&Form1Ui::Label10, "Label10", 504, 360, 73, 25, "TR71010 only", N, L, false, 0, Back::Transparent, false},
};

struct ButtonDesign {
    QPushButton* Form1Ui::*member;
    const char* name;
    int x;
    const char* caption;
};

// In focus order, left to right.
const ButtonDesign kButtons[] = {
    {&Form1Ui::Speed,         "Speed",           8, "Speed"},
    {&Form1Ui::Amplification, "Amplification",  88, "Amplitude"},
    {&Form1Ui::Simmode,       "Simmode",       168, "Mode"},
    {&Form1Ui::Filter,        "Filter",        248, "Filter"},
    {&Form1Ui::Calibrate,     "Calibrate",     328, "Calibrate"},
    {&Form1Ui::Channel,       "Channel",       424, "Channel"},
    {&Form1Ui::Curve,         "Curve",         504, "Curve"},
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

QLabel* makeLabel(QWidget* parent, const LabelDesign& d, const QPalette& desktop) {
    QLabel* label = d.box ? new BoxLabel(parent) : new QLabel(parent);
    label->setObjectName(QString::fromLatin1(d.name));
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

}  // namespace

Form1Ui buildForm1Ui(QMainWindow& window) {
    Form1Ui ui;
    window.setObjectName(QStringLiteral("Form1"));
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

    ui.Graph = new GraphWidget(client);
    ui.Graph->setObjectName(QStringLiteral("Graph"));
    ui.Graph->setGeometry(8, 8, 577, 257);

    for (const LabelDesign& d : kLabels) {
        ui.*d.member = makeLabel(client, d, desktop);
    }

    ui.Image1 = new QLabel(client);
    ui.Image1->setObjectName(QStringLiteral("Image1"));
    ui.Image1->setGeometry(600, 296, 200, 45);
    ui.Image1->setTextFormat(Qt::PlainText);
    ui.Image1->setPixmap(QPixmap(QStringLiteral(":/images/logo.png")));
    ui.Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QWidget* previous = ui.Graph;
    for (const ButtonDesign& d : kButtons) {
        auto* button = new QPushButton(QString::fromLatin1(d.caption), client);
        button->setObjectName(QString::fromLatin1(d.name));
        button->setGeometry(d.x, kButtonTop, kButtonWidth, kButtonHeight);
        button->setAutoDefault(false);
        QWidget::setTabOrder(previous, button);
        previous = button;
        ui.*d.member = button;
    }

    QMenuBar* menuBar = window.menuBar();
    ui.menDatei = menuBar->addMenu(QStringLiteral("&File"));
    ui.menDatei->setObjectName(QStringLiteral("menDatei"));
    ui.menEnde = ui.menDatei->addAction(QStringLiteral("&End"));
    ui.menEnde->setObjectName(QStringLiteral("menEnde"));

    ui.menPort = menuBar->addMenu(QStringLiteral("&Port"));
    ui.menPort->setObjectName(QStringLiteral("menPort"));
    for (std::size_t i = 0; i < ui.setCOM.size(); ++i) {
        QAction* item = ui.menPort->addAction(QStringLiteral("COM%1").arg(i + 1));
        item->setObjectName(QStringLiteral("setCOM%1").arg(i + 1));
        item->setCheckable(true);
        ui.setCOM[i] = item;
    }
    ui.setCOM[0]->setChecked(true);

    ui.menBeep = menuBar->addMenu(QStringLiteral("&Tone"));
    ui.menBeep->setObjectName(QStringLiteral("menBeep"));
    ui.setBeep = ui.menBeep->addAction(QStringLiteral("Pulse Tone"));
    ui.setBeep->setObjectName(QStringLiteral("setBeep"));
    ui.setBeep->setCheckable(true);
    ui.setBeep->setChecked(true);

    // The status bar follows the bottom edge; its one panel starts 96 pixels
    // wide and widens to fit a longer message.
    ui.StsBar1 = new QStatusBar(&window);
    ui.StsBar1->setObjectName(QStringLiteral("StsBar1"));
    ui.StsBar1->setFixedHeight(kStatusBarHeight);
    window.setStatusBar(ui.StsBar1);
    ui.statusPanel = new QLabel(ui.StsBar1);
    ui.statusPanel->setObjectName(QStringLiteral("statusPanel"));
    ui.statusPanel->setTextFormat(Qt::PlainText);
    ui.statusPanel->setMinimumWidth(kStatusPanelWidth);
    ui.StsBar1->addWidget(ui.statusPanel);

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
