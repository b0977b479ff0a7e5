#pragma once

#include <QPointer>
#include <cstdint>
#include <string>

#include "Controls.h"

class QAction;
class QLabel;

namespace vitalon {

// A Label backed by a QLabel. Texts are shown as plain text, never as
// markup. Background colours are resolved against the palette of the label's
// parent (the desktop's colours), not the label's own, which setBackgroundColor itself
// overwrites. A label that Qt has already destroyed is ignored.
class QtLabel : public Label {
public:
    explicit QtLabel(QLabel* label);

    void setText(const std::string& text) override;
    std::string text() const override;
    void setBackgroundColor(std::uint32_t color) override;

private:
    QPointer<QLabel> label_;
};

// A MenuItem backed by a checkable QAction.
class QtMenuItem : public MenuItem {
public:
    explicit QtMenuItem(QAction* action);

    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    void setChecked(bool checked) override;
    bool isChecked() const override;

private:
    QPointer<QAction> action_;
};

}  // namespace vitalon
