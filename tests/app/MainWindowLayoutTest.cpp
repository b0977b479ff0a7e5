#include <gtest/gtest.h>

#include <QAction>
#include <QFontInfo>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <map>
#include <string>
#include <vector>

#include "Colors.h"
#include "GraphWidget.h"
#include "MainWindowLayout.h"
#include "SystemColors.h"

namespace vitalon {
namespace {

enum class Back { None, Default, Transparent, Window, Menu };

// The window's design, one row per control. Positions are pixels in the client area.
struct Design {
    const char* name;
    int x, y, w, h;
    const char* caption;
    double points;
    bool bold;
    Qt::Alignment align;  // horizontal; labels only
    bool box;
    std::uint32_t fore;  // 0: default text colour
    Back back;
    bool wrap;
};

constexpr Qt::Alignment L = Qt::AlignLeft, C = Qt::AlignHCenter, R = Qt::AlignRight, X{};

// clang-format off
const Design kDesign[] = {
    {"Graph",         8,   8, 577, 257, nullptr,        9.75, false, X, false, 0, Back::None, false},
    {"Label1",      608,   8, 176,  96, "000",           60,  true,  C, true,  colors::PulseGreen, Back::Window, false},
    {"Label6",      608, 104,  89,  17, "Pulse [1/min]", 9.75, false, L, false, 0, Back::Default, false},
    {"Label3",      608, 120, 176,  96, "000",           60,  true,  C, true,  colors::RespOrange, Back::Window, false},
    {"Label5",      608, 216,  89,  17, "Resp [1/min]",  9.75, false, L, false, 0, Back::Default, false},
    {"Label8",      712, 216,  73,  17, "TR71010 only",  8.25, false, R, false, 0, Back::Transparent, false},
    {"Label7",      608, 264,  57,  17, "Status",        9.75, false, L, false, 0, Back::Default, false},
    {"Label4",      688, 256,  97,  25, "No Data!",      9.75, false, C, true,  0, Back::Menu, false},
    {"Image1",      600, 296, 200,  45, "",              9.75, false, L, false, 0, Back::Transparent, false},
    {"Label20",     640, 352, 121,  33, "TR71000 and TR71010 Test ProgramV1.4",
                                                         8.25, false, L, false, colors::TitleGrey, Back::Default, true},
    {"Labelspeed",    8, 280,  73,  25, "100/sec",       9.75, false, C, true,  0, Back::Default, false},
    {"LabelAmp",     88, 280,  73,  25, "Amp 1",         9.75, false, C, true,  0, Back::Default, false},
    {"Labelsim",    168, 280,  73,  25, "Normal",        9.75, false, C, true,  0, Back::Default, false},
    {"Labelfilter", 248, 280,  73,  25, "50 Hz",         9.75, false, C, true,  0, Back::Default, false},
    {"LabelChannel",424, 280,  73,  25, "II",            9.75, false, C, true,  0, Back::Default, false},
    {"LabelCurve",  504, 280,  73,  25, "EKG",           9.75, false, C, true,  0, Back::Default, false},
    {"Speed",         8, 320,  73,  33, "Speed",         9.75, false, X, false, 0, Back::None, false},
    {"Amplification",88, 320,  73,  33, "Amplitude",     9.75, false, X, false, 0, Back::None, false},
    {"Simmode",     168, 320,  73,  33, "Mode",          9.75, false, X, false, 0, Back::None, false},
    {"Filter",      248, 320,  73,  33, "Filter",        9.75, false, X, false, 0, Back::None, false},
    {"Calibrate",   328, 320,  73,  33, "Calibrate",     9.75, false, X, false, 0, Back::None, false},
    {"Channel",     424, 320,  73,  33, "Channel",       9.75, false, X, false, 0, Back::None, false},
    {"Curve",       504, 320,  73,  33, "Curve",         9.75, false, X, false, 0, Back::None, false},
    {"Label9",      168, 360,  73,  17, "TR71000 only",  8.25, false, R, false, 0, Back::Transparent, false},
    {"Label2",      424, 360,  73,  25, "TR71010 only",  8.25, false, L, false, 0, Back::Transparent, false},
    {"Label10",     504, 360,  73,  25, "TR71010 only",  8.25, false, L, false, 0, Back::Transparent, false},
};
// clang-format on

class MainWindowLayoutTest : public ::testing::Test {
protected:
    MainWindowLayoutTest() : ui(buildMainWindowLayout(window)) {
        // clang-format off
        controls = {{"Graph", ui.graph}, {"Label1", ui.pulseLabel}, {"Label2", ui.leadModelNote},
            {"Label3", ui.respirationLabel}, {"Label4", ui.statusLabel}, {"Label5", ui.respirationCaption},
            {"Label6", ui.pulseCaption}, {"Label7", ui.statusCaption}, {"Label8", ui.respirationModelNote},
            {"Label9", ui.modeModelNote}, {"Label10", ui.curveModelNote}, {"Label20", ui.titleLabel},
            {"Image1", ui.logo}, {"Labelspeed", ui.speedLabel}, {"LabelAmp", ui.amplificationLabel},
            {"Labelsim", ui.modeLabel}, {"Labelfilter", ui.filterLabel}, {"LabelChannel", ui.leadLabel},
            {"LabelCurve", ui.curveLabel}, {"Speed", ui.speedButton},
            {"Amplification", ui.amplificationButton}, {"Simmode", ui.modeButton},
            {"Filter", ui.filterButton}, {"Calibrate", ui.calibrateButton}, {"Channel", ui.leadButton},
            {"Curve", ui.curveButton}};
        // clang-format on
    }

    QColor desktop(std::uint32_t color) const { return resolveColor(color, window.palette()); }

    QMainWindow window;
    MainWindowLayout ui;
    std::map<std::string, QWidget*> controls;
};

TEST_F(MainWindowLayoutTest, EveryControlHasItsDesignPlaceAndLook) {
    ASSERT_EQ(controls.size(), std::size(kDesign));
    for (const Design& d : kDesign) {
        SCOPED_TRACE(d.name);
        QWidget* widget = controls.at(d.name);
        ASSERT_NE(widget, nullptr);
        // The design name is the objectName, and finds the control.
        EXPECT_EQ(window.findChild<QWidget*>(QString::fromLatin1(d.name)), widget);
        EXPECT_EQ(widget->parentWidget(), window.centralWidget());
        EXPECT_EQ(widget->geometry(), QRect(d.x, d.y, d.w, d.h));

        const QFont font = widget->font();
        EXPECT_DOUBLE_EQ(font.pointSizeF(), d.points);
        EXPECT_EQ(font.bold(), d.bold);
        const QString family = QFontInfo(font).family();
        EXPECT_TRUE(family == "Arial" || family == "Liberation Sans" || family == "Arimo")
            << family.toStdString();

        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(button->text().toStdString(), d.caption);
            continue;
        }
        auto* label = qobject_cast<QLabel*>(widget);
        if (label == nullptr) {
            continue;  // the graph
        }
        EXPECT_EQ(label->text().toStdString(), d.caption);
        EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, d.align);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(label->wordWrap(), d.wrap);
        EXPECT_EQ(label->frameShape(), d.box ? QFrame::Box : QFrame::NoFrame);
        EXPECT_EQ(label->frameShadow(), QFrame::Plain);
        EXPECT_EQ(label->lineWidth(), 1);
        const QPalette& palette = label->palette();
        const QColor fore =
            d.fore != 0 ? desktop(d.fore) : window.palette().color(QPalette::WindowText);
        EXPECT_EQ(palette.color(QPalette::WindowText), fore);
        EXPECT_EQ(label->autoFillBackground(), d.back != Back::Transparent);
        if (d.back == Back::Window || d.back == Back::Menu) {
            const auto back =
                d.back == Back::Window ? colors::WindowBackground : colors::MenuBackground;
            EXPECT_EQ(palette.color(QPalette::Window), desktop(back));
        } else if (d.back == Back::Default) {
            EXPECT_EQ(palette.color(QPalette::Window), window.palette().color(QPalette::Window));
        }
    }
}

TEST_F(MainWindowLayoutTest, MenusAsCreated) {
    struct Menu {
        QMenu* menu;
        const char* title;
        QStringList items;
    };
    const Menu menus[] = {
        {ui.fileMenu, "&File", {"&End"}},
        {ui.portMenu,
         "&Port",
         {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8",
          "Reconnect Automatically"}},
        {ui.toneMenu, "&Tone", {"Pulse Tone"}},
    };
    ASSERT_EQ(window.menuBar()->actions().size(), 3);
    for (int m = 0; m < 3; ++m) {
        EXPECT_EQ(window.menuBar()->actions()[m]->menu(), menus[m].menu);
        EXPECT_EQ(menus[m].menu->title(), menus[m].title);
        QStringList items;
        for (QAction* item : menus[m].menu->actions()) {
            items << item->text();
            EXPECT_TRUE(item->isEnabled());
            const bool checked = item == ui.portActions[0] || item == ui.pulseToneAction ||
                                 item == ui.reconnectAction;
            EXPECT_EQ(item->isChecked(), checked) << item->text().toStdString();
            EXPECT_EQ(item->isCheckable(), item != ui.quitAction);
        }
        EXPECT_EQ(items, menus[m].items);
    }
    QList<QAction*> portItems(ui.portActions.begin(), ui.portActions.end());
    portItems << ui.reconnectAction;
    EXPECT_EQ(ui.portMenu->actions(), portItems);
    // The design names of the menus, their items and the status bar.
    const std::pair<QObject*, const char*> names[] = {
        {ui.fileMenu, "menDatei"},       {ui.quitAction, "menEnde"},     {ui.portMenu, "menPort"},
        {ui.portActions[0], "setCOM1"},  {ui.portActions[7], "setCOM8"}, {ui.toneMenu, "menBeep"},
        {ui.pulseToneAction, "setBeep"}, {ui.statusBar, "StsBar1"},      {&window, "Form1"}};
    for (const auto& [object, name] : names) {
        EXPECT_EQ(object->objectName(), name);
    }
    EXPECT_EQ(ui.reconnectAction->objectName(), "setReconnect");
    EXPECT_EQ(ui.fileMenu->actions(), QList<QAction*>{ui.quitAction});
    EXPECT_EQ(ui.toneMenu->actions(), QList<QAction*>{ui.pulseToneAction});
}

TEST_F(MainWindowLayoutTest, WindowClientAreaStatusBarIconAndFocusOrder) {
    EXPECT_EQ(window.windowTitle(), "Vitalon");
    EXPECT_DOUBLE_EQ(window.font().pointSizeF(), 9.75);
    const QList<QSize> iconSizes = window.windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(16, 16)) && iconSizes.contains(QSize(32, 32)));
    EXPECT_EQ(ui.logo->pixmap().size(), QSize(200, 45));

    window.show();
    window.layout()->activate();
    const int top = window.menuBar()->geometry().bottom() + 1;
    EXPECT_EQ(window.centralWidget()->geometry(), QRect(0, top, 802, 390));
    EXPECT_EQ(ui.statusBar->geometry(), QRect(0, top + 390, 802, 25));
    EXPECT_EQ(ui.statusPanel->parentWidget(), ui.statusBar);
    EXPECT_GE(ui.statusPanel->width(), 96);
    const QRect screen = window.screen()->availableGeometry();
    EXPECT_LE((window.geometry().center() - screen.center()).manhattanLength(), 2);

    window.resize(500, 300);  // only the status bar follows
    window.layout()->activate();
    EXPECT_EQ(ui.pulseLabel->geometry(), QRect(608, 8, 176, 96));
    EXPECT_EQ(ui.statusBar->geometry(), QRect(0, 300 - 25, 500, 25));

    // Tab visits the controls that take focus in this order, from the graph on.
    std::vector<QWidget*> tabbed;
    QWidget* w = ui.graph;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->parentWidget() == window.centralWidget()) {
            tabbed.push_back(w);
        }
        w = w->nextInFocusChain();
    } while (w != ui.graph);
    EXPECT_EQ(tabbed, (std::vector<QWidget*>{ui.graph, ui.speedButton, ui.amplificationButton,
                                             ui.modeButton, ui.filterButton, ui.calibrateButton,
                                             ui.leadButton, ui.curveButton}));
}

TEST_F(MainWindowLayoutTest, ValueLabelsDrawTheirTextInColourInsideAPlainBorder) {
    const QImage image = ui.pulseLabel->grab().toImage();
    const QColor frame = desktop(colors::SystemFlag | 6u);
    EXPECT_EQ(image.pixelColor(0, 50), frame);
    EXPECT_EQ(image.pixelColor(175, 0), frame);
    EXPECT_EQ(image.pixelColor(3, 3), desktop(colors::WindowBackground));
    // The digits stand in the box from its top, clear of the bottom edge.
    int lastGreen = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            lastGreen = image.pixelColor(x, y) == QColor(0, 192, 0) ? y : lastGreen;
        }
    }
    EXPECT_GT(lastGreen, 40);
    EXPECT_LT(lastGreen, 85);
}

TEST_F(MainWindowLayoutTest, MessageWiderThanTheBarIsElidedAndTheWindowKeepsItsWidth) {
    window.show();
    window.layout()->activate();
    const QString message = QStringLiteral("No serial port could be opened.") +
                            QString(" COM%1: /dev/ttyUSB0: permission denied.").repeated(6) +
                            QStringLiteral(" Your user must be in the dialout group.");
    ui.statusPanel->setText(message);
    window.layout()->activate();
    EXPECT_EQ(window.width(), 802);
    EXPECT_LE(ui.statusPanel->geometry().right(), ui.statusBar->width());
    EXPECT_EQ(ui.statusPanel->text(), message);  // the whole text stays available

    // What is painted ends in an ellipsis inside the panel, not in a cut-off word.
    const QImage shot = ui.statusPanel->grab().toImage();
    int lastInk = -1;
    const QColor background = shot.pixelColor(shot.width() - 1, shot.height() / 2);
    for (int x = 0; x < shot.width(); ++x) {
        for (int y = 0; y < shot.height(); ++y) {
            if (shot.pixelColor(x, y) != background) {
                lastInk = x;
            }
        }
    }
    EXPECT_GT(lastInk, 0);
    EXPECT_LT(lastInk, shot.width() - 2);
}

}  // namespace
}  // namespace vitalon
