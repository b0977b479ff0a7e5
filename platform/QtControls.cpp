#include "QtControls.h"

#include <QAction>
#include <QApplication>
#include <QLabel>

#include "SystemColors.h"

namespace vitalon {

QtLabel::QtLabel(QLabel* label) : label_(label) {
    if (label_) {
        label_->setTextFormat(Qt::PlainText);
    }
}

void QtLabel::setText(const std::string& text) {
    if (label_) {
        label_->setText(QString::fromStdString(text));
    }
}

std::string QtLabel::text() const {
    return label_ ? label_->text().toStdString() : std::string();
}

void QtLabel::setBackgroundColor(std::uint32_t color) {
    if (!label_) {
        return;
    }
    const QWidget* parent = label_->parentWidget();
    const QPalette desktop = parent ? parent->palette() : QApplication::palette();
    QPalette palette = label_->palette();
    palette.setColor(QPalette::Window, resolveColor(color, desktop));
    label_->setPalette(palette);
    label_->setAutoFillBackground(true);
}

QtMenuItem::QtMenuItem(QAction* action) : action_(action) {
    if (action_) {
        action_->setCheckable(true);
    }
}

void QtMenuItem::setEnabled(bool enabled) {
    if (action_) {
        action_->setEnabled(enabled);
    }
}

bool QtMenuItem::isEnabled() const {
    return action_ && action_->isEnabled();
}

void QtMenuItem::setChecked(bool checked) {
    if (action_) {
        action_->setChecked(checked);
    }
}

bool QtMenuItem::isChecked() const {
    return action_ && action_->isChecked();
}

}  // namespace vitalon
