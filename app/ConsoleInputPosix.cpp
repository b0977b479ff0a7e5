// POSIX only: standard input read without blocking the event loop.
#include <unistd.h>
#include <QSocketNotifier>
#include <algorithm>

#include "ConsoleInput.h"

namespace vitalon {

ConsoleInput::ConsoleInput(std::function<void()> onLine, QObject* parent)
    : QObject(parent), onLine_(std::move(onLine)) {
    notifier_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &ConsoleInput::readLines);
}

ConsoleInput::~ConsoleInput() = default;

bool ConsoleInput::isTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

void ConsoleInput::readLines() {
    char buffer[256];
    // The notifier says something is there: one read does not block.
    const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        notifier_->setEnabled(false);  // the end of the input, or it cannot be read
        return;
    }
    const auto lines = std::count(buffer, buffer + count, '\n');
    for (long i = 0; i < lines; ++i) {
        if (onLine_) {
            onLine_();
        }
    }
}

}  // namespace vitalon
