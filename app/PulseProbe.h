#pragma once

#include <QObject>

namespace vitalon {

class MainWindow;

// Behind the hidden option --exit-on-pulse: once the pulse label is painted
// with a rate above 0, prints "pulse <rate>" on standard output and quits the
// window as End does. A script can so prove that the module's values reach the
// screen of an installed program, and wait for exactly that instead of a time.
class PulseProbe : public QObject {
public:
    explicit PulseProbe(MainWindow& window);
    ~PulseProbe() override;
    PulseProbe(const PulseProbe&) = delete;
    PulseProbe& operator=(const PulseProbe&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MainWindow& window_;
    bool seen_ = false;
};

}  // namespace vitalon
