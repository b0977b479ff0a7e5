#include "SystemColors.h"

#include "Colors.h"

namespace vitalon {

namespace {

QColor systemColor(std::uint8_t index, const QPalette& palette) {
    switch (index) {
        case 0:   // scroll bar
        case 10:  // active border
        case 11:  // inactive border
        case 15:  // button face
            return palette.color(QPalette::Button);
        case 1:   // desktop
        case 12:  // application workspace
        case 16:  // button shadow
            return palette.color(QPalette::Dark);
        case 2:   // active caption
        case 27:  // gradient of the active caption
        case 29:  // menu highlight
        case 13:  // selection highlight
            return palette.color(QPalette::Highlight);
        case 3:   // inactive caption
        case 28:  // gradient of the inactive caption
            return palette.color(QPalette::Inactive, QPalette::Highlight);
        case 4:   // menu background
        case 30:  // menu bar
            return palette.color(QPalette::Window);
        case 5:  // window background
            return palette.color(QPalette::Base);
        case 6:   // window frame
        case 7:   // menu text
        case 19:  // inactive caption text
            return palette.color(QPalette::WindowText);
        case 8:  // window text
            return palette.color(QPalette::Text);
        case 9:   // caption text
        case 14:  // highlighted text
            return palette.color(QPalette::HighlightedText);
        case 17:  // grey (disabled) text
            return palette.color(QPalette::Disabled, QPalette::Text);
        case 18:  // button text
            return palette.color(QPalette::ButtonText);
        case 20:  // button highlight
            return palette.color(QPalette::Light);
        case 21:  // dark 3-D shadow
            return palette.color(QPalette::Shadow);
        case 22:  // 3-D light
            return palette.color(QPalette::Midlight);
        case 23:  // tooltip text
            return palette.color(QPalette::ToolTipText);
        case 24:  // tooltip background
            return palette.color(QPalette::ToolTipBase);
        case 26:  // hot-tracked item
            return palette.color(QPalette::Link);
        default:
            return palette.color(QPalette::Window);
    }
}

}  // namespace

QColor resolveColor(std::uint32_t color, const QPalette& palette) {
    if (colors::isSystem(color)) {
        return systemColor(colors::systemIndex(color), palette);
    }
    return QColor(colors::red(color), colors::green(color), colors::blue(color));
}

}  // namespace vitalon
