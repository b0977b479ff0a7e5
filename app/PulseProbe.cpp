#include "PulseProbe.h"

#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <cstdio>

namespace vitalon {

PulseProbe::PulseProbe(QLabel* pulseLabel, std::function<void()> quit)
    : label_(pulseLabel), quit_(std::move(quit)) {
    label_->installEventFilter(this);
}

PulseProbe::~PulseProbe() {
    label_->removeEventFilter(this);
}

bool PulseProbe::eventFilter(QObject* watched, QEvent* event) {
    if (seen_ || event->type() != QEvent::Paint) {
        return false;
    }
    const QString text = static_cast<QLabel*>(watched)->text();
    bool isNumber = false;
    if (text.toInt(&isNumber) > 0 && isNumber) {
        seen_ = true;
        std::printf("pulse %s\n", qPrintable(text));
        std::fflush(stdout);
        // Not from inside the paint: quitting closes the window being painted.
        QTimer::singleShot(0, this, [this] { quit_(); });
    }
    return false;
}

}  // namespace vitalon
