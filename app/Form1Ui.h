#pragma once

#include <array>

class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QPushButton;
class QStatusBar;

namespace vitalon {

class GraphWidget;

// Every control of the main window, created in its design state: positions,
// sizes, fonts, colours, captions, menus with their design check marks, and
// the keyboard focus order. Form1 wires them; nothing here has behaviour.
struct Form1Ui {
    GraphWidget* Graph = nullptr;

    QLabel* Label1 = nullptr;  // pulse rate
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;  // respiration rate
    QLabel* Label4 = nullptr;  // status text
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label20 = nullptr;
    QLabel* Image1 = nullptr;

    QLabel* Labelspeed = nullptr;
    QLabel* LabelAmp = nullptr;
    QLabel* Labelsim = nullptr;
    QLabel* Labelfilter = nullptr;
    QLabel* LabelChannel = nullptr;
    QLabel* LabelCurve = nullptr;

    QPushButton* Speed = nullptr;
    QPushButton* Amplification = nullptr;
    QPushButton* Simmode = nullptr;
    QPushButton* Filter = nullptr;
    QPushButton* Calibrate = nullptr;
    QPushButton* Channel = nullptr;
    QPushButton* Curve = nullptr;

    QMenu* menDatei = nullptr;
    QMenu* menPort = nullptr;
    QMenu* menBeep = nullptr;
    QAction* menEnde = nullptr;
    std::array<QAction*, 8> setCOM{};  // setCOM1 .. setCOM8
    QAction* setBeep = nullptr;

    QStatusBar* StsBar1 = nullptr;
    QLabel* statusPanel = nullptr;  // the status bar's one panel; carries the link messages
};

// Builds the controls into `window` (title, icon, fonts, client size) and returns them.
Form1Ui buildForm1Ui(QMainWindow& window);

}  // namespace vitalon
