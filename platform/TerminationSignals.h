#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace vitalon {

// Delivers SIGINT, SIGTERM and SIGHUP on the event loop, so that a terminal's
// Ctrl+C, a closed terminal or a logout runs the ordinary shutdown (recording
// closed, module restored, port closed). One instance per process. POSIX only;
// see TerminationSignalsPosix.cpp.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    std::function<void()> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// Makes a write beyond the process's file-size limit (ulimit -f) fail with
// EFBIG instead of killing the program with SIGXFSZ, so that it ends the
// recording or the report like a full disk, with a message. Call first thing
// in main(); it lasts for the whole process.
void ignoreFileSizeSignal();

}  // namespace vitalon
