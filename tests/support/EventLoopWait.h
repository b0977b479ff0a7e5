#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace vitalon::testing {

// Runs the event loop until `done` holds or `timeoutMs` has passed; false on timeout.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace vitalon::testing
