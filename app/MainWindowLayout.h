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

// Every control of the main window, created in its design state: positions
// and sizes in pixels, fonts, colours, captions, menus with their design check
// marks, and the keyboard focus order. Each control's objectName is its name
// in the window's design ("Label1", "Labelspeed", "setCOM3" ...), so the layout
// can be checked and automated by those names. MainWindow wires the controls;
// nothing here has behaviour.
struct MainWindowLayout {
    GraphWidget* graph = nullptr;

    QLabel* pulseLabel = nullptr;
    QLabel* pulseCaption = nullptr;
    QLabel* respirationLabel = nullptr;
    QLabel* respirationCaption = nullptr;
    QLabel* respirationModelNote = nullptr;  // respiration needs the TR71010
    QLabel* statusLabel = nullptr;
    QLabel* statusCaption = nullptr;
    QLabel* titleLabel = nullptr;
    QLabel* logo = nullptr;

    QLabel* speedLabel = nullptr;
    QLabel* amplificationLabel = nullptr;
    QLabel* modeLabel = nullptr;
    QLabel* filterLabel = nullptr;
    QLabel* leadLabel = nullptr;
    QLabel* curveLabel = nullptr;
    QLabel* modeModelNote = nullptr;  // model notes under the buttons
    QLabel* leadModelNote = nullptr;
    QLabel* curveModelNote = nullptr;

    QPushButton* speedButton = nullptr;
    QPushButton* amplificationButton = nullptr;
    QPushButton* modeButton = nullptr;
    QPushButton* filterButton = nullptr;
    QPushButton* calibrateButton = nullptr;
    QPushButton* leadButton = nullptr;
    QPushButton* curveButton = nullptr;

    QMenu* fileMenu = nullptr;
    QMenu* portMenu = nullptr;
    QMenu* toneMenu = nullptr;
    QAction* quitAction = nullptr;
    std::array<QAction*, 8> portActions{};  // COM1 .. COM8
    QAction* reconnectAction = nullptr;     // "Reconnect Automatically", below the ports
    QAction* pulseToneAction = nullptr;

    QStatusBar* statusBar = nullptr;
    // The status bar's one panel; carries the link messages. A message wider
    // than the bar is shown elided, with the whole text as the tooltip.
    QLabel* statusPanel = nullptr;
};

// Builds the controls into `window` (title, icon, fonts, client size) and returns them.
MainWindowLayout buildMainWindowLayout(QMainWindow& window);

}  // namespace vitalon
