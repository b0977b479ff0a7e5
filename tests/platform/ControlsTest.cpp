#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QWidget>

#include "Colors.h"
#include "QtControls.h"
#include "SystemColors.h"

namespace vitalon {
namespace {

// Every role a different colour: blue = the system index it should answer.
QPalette indexPalette() {
    QPalette p;
    const std::pair<QPalette::ColorRole, int> roles[] = {{QPalette::Window, 4},
                                                         {QPalette::Base, 5},
                                                         {QPalette::Text, 8},
                                                         {QPalette::Highlight, 13},
                                                         {QPalette::Button, 15}};
    for (auto [role, index] : roles) {
        p.setColor(role, QColor(1, 1, index));
    }
    return p;
}

TEST(ResolveColor, SystemIndicesComeFromThePalettePlainValuesAreBgr) {
    const QPalette p = indexPalette();
    for (int index : {4, 5, 8, 13, 15}) {
        EXPECT_EQ(resolveColor(colors::SystemFlag | static_cast<std::uint32_t>(index), p),
                  QColor(1, 1, index));
    }
    EXPECT_EQ(resolveColor(colors::AlarmBackground, p), QColor(255, 192, 192));
    EXPECT_EQ(resolveColor(colors::RespOrange, p), QColor(255, 128, 0));
}

TEST(QtControls, LabelAndMenuItemWrapTheirQtWidgets) {
    QWidget window;
    window.setPalette(indexPalette());
    auto* raw = new QLabel(&window);
    QtLabel label(raw);
    label.setText("<b>72</b>");  // shown as it stands, never as markup
    EXPECT_EQ(raw->textFormat(), Qt::PlainText);
    EXPECT_EQ(label.text(), "<b>72</b>");

    label.setBackgroundColor(colors::AlarmBackground);
    EXPECT_TRUE(raw->autoFillBackground());
    EXPECT_EQ(raw->palette().color(QPalette::Window), QColor(255, 192, 192));
    // System colours come from the window, not from the alarm colour just set.
    label.setBackgroundColor(colors::WindowBackground);
    EXPECT_EQ(raw->palette().color(QPalette::Window), QColor(1, 1, 5));

    QAction action;
    QtMenuItem item(&action);
    EXPECT_TRUE(action.isCheckable());
    item.setChecked(true);
    item.setEnabled(false);
    EXPECT_TRUE(action.isChecked() && item.isChecked());
    EXPECT_FALSE(action.isEnabled() || item.isEnabled());
}

}  // namespace
}  // namespace vitalon
