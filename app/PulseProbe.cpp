#include "PulseProbe.h"

#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <cstdio>

#include "MainWindow.h"
#include "MainWindowLayout.h"

namespace vitalon {

PulseProbe::PulseProbe(MainWindow& window) : window_(window) {
    window_.layout().pulseLabel->installEventFilter(this);
}

PulseProbe::~PulseProbe() {
    window_.layout().pulseLabel->removeEventFilter(this);
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
        QTimer::singleShot(0, &window_, [this] { window_.quit(); });
    }
    return false;
}

}  // namespace vitalon
