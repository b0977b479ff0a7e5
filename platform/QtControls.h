#pragma once

#include <QPointer>
#include <cstdint>
#include <string>

#include "Controls.h"

class QAction;
class QLabel;

namespace vitalon {

// A Label backed by a QLabel. Captions are shown as plain text, never as
// markup. Background colours are resolved against the palette of the label's
// parent (the desktop's colours), not the label's own, which BackColor itself
// overwrites. A label that Qt has already destroyed is ignored.
class QtLabel : public Label {
public:
    explicit QtLabel(QLabel* label);

    void Caption(const std::string& text) override;
    std::string Caption() const override;
    void BackColor(std::uint32_t color) override;

private:
    QPointer<QLabel> label_;
};

// A MenuItem backed by a checkable QAction.
class QtMenuItem : public MenuItem {
public:
    explicit QtMenuItem(QAction* action);

    void Enabled(bool enabled) override;
    bool Enabled() const override;
    void Checked(bool checked) override;
    bool Checked() const override;

private:
    QPointer<QAction> action_;
};

}  // namespace vitalon
