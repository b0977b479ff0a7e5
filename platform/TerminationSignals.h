#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace vitalon {

// Delivers SIGINT and SIGTERM on the event loop, so that a terminal's Ctrl+C or
// a session's end runs the ordinary shutdown (port closed, exit code 0).
// One instance per process. POSIX only; see TerminationSignalsPosix.cpp.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    std::function<void()> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace vitalon
