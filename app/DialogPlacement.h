#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace vitalon {

// Where a tool window goes so that the main window's trace stays in view.
struct Placement {
    QPoint windowTopLeft;  // the main window's frame, moved only when that makes room
    QRect dialog;          // the tool window's frame
};

// Places a tool window of frame size `wanted` (never smaller than `minimum`)
// on the screen area `screen` beside the main window's frame `window`,
// without covering it: to its right, else to its left, else the main window
// slides sideways to make room, else the tool window is made narrower down to
// `minimum`. On a screen too small for both side by side the tool window goes
// below or above the main window, and as a last resort to the screen's right
// edge (which then covers part of the main window).
Placement placeBeside(const QRect& screen, const QRect& window, QSize wanted, QSize minimum);

}  // namespace vitalon
