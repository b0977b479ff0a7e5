#pragma once

#include <QObject>
#include <functional>

class QLabel;

namespace vitalon {

// Behind the hidden option --exit-on-pulse: once the pulse label is painted
// with a rate above 0, prints "pulse <rate>" on standard output and calls
// `quit` (the window's End). A script can so prove that the module's values
// reach the screen of an installed program, and wait for exactly that
// instead of a time.
class PulseProbe : public QObject {
public:
    PulseProbe(QLabel* pulseLabel, std::function<void()> quit);
    ~PulseProbe() override;
    PulseProbe(const PulseProbe&) = delete;
    PulseProbe& operator=(const PulseProbe&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* label_;
    std::function<void()> quit_;
    bool seen_ = false;
};

}  // namespace vitalon
