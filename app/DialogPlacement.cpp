#include "DialogPlacement.h"

#include <algorithm>

namespace vitalon {
namespace {

// The top edge of a rectangle of `height` next to `window`, inside `screen`.
int alignedTop(const QRect& screen, const QRect& window, int height) {
    const int top = std::min(window.top(), screen.bottom() + 1 - height);
    return std::max(top, screen.top());
}

}  // namespace

Placement placeBeside(const QRect& screen, const QRect& window, QSize wanted, QSize minimum) {
    const QSize least = minimum.boundedTo(wanted);
    const int height = std::clamp(screen.height(), least.height(), wanted.height());
    const int top = alignedTop(screen, window, height);
    const int spaceRight = screen.right() - window.right();
    const int spaceLeft = window.left() - screen.left();

    if (spaceRight >= wanted.width()) {
        return {window.topLeft(), QRect(window.right() + 1, top, wanted.width(), height)};
    }
    if (spaceLeft >= wanted.width()) {
        return {window.topLeft(),
                QRect(window.left() - wanted.width(), top, wanted.width(), height)};
    }
    // Side by side with the main window moved: both centred as a pair, or the
    // tool window narrowed to what is left beside the main window at the left edge.
    const int room = screen.width() - window.width();
    if (room >= least.width()) {
        const int width = std::min(room, wanted.width());
        const int left = screen.left() + (room - width) / 2;
        const QPoint moved(left, window.top());
        return {moved, QRect(left + window.width(), top, width, height)};
    }
    // A narrow screen: below the main window, else above it.
    const int width = std::clamp(screen.width(), least.width(), wanted.width());
    const int left = std::max(screen.left(), std::min(window.left(), screen.right() + 1 - width));
    const int spaceBelow = screen.bottom() - window.bottom();
    const int spaceAbove = window.top() - screen.top();
    if (spaceBelow >= least.height()) {
        return {window.topLeft(),
                QRect(left, window.bottom() + 1, width, std::min(spaceBelow, wanted.height()))};
    }
    if (spaceAbove >= least.height()) {
        const int h = std::min(spaceAbove, wanted.height());
        return {window.topLeft(), QRect(left, window.top() - h, width, h)};
    }
    return {window.topLeft(), QRect(screen.right() + 1 - width, top, width, height)};
}

}  // namespace vitalon
