#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace vitalon {

// Turns a 32-bit colour of the window's encoding into a QColor. With the top
// bit clear the value is 0x00BBGGRR; with the top bit set the low byte is a
// desktop system colour index, looked up in `palette`:
//   4 menu background -> Window        5 window background -> Base
//   8 window text     -> Text          13 highlight        -> Highlight
//   14 highlight text -> HighlightedText  15 button face    -> Button
// and the other classic indices to their nearest palette role. Unknown
// indices fall back to Window.
QColor resolveColor(std::uint32_t color, const QPalette& palette);

}  // namespace vitalon
