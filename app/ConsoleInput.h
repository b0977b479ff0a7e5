#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace vitalon {

// Standard input as the technician's answers on a test station's terminal:
// every line (Enter) is told to `onLine` on the event loop. At the end of
// the input nothing more is told. POSIX only; see ConsoleInputPosix.cpp.
class ConsoleInput : public QObject {
    Q_OBJECT
public:
    explicit ConsoleInput(std::function<void()> onLine, QObject* parent = nullptr);
    ~ConsoleInput() override;

    // Whether standard input is a terminal, where somebody can press Enter.
    static bool isTerminal();

private:
    void readLines();

    std::function<void()> onLine_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace vitalon
