// POSIX only: termination signals delivered on the event loop through a pipe.
#include <fcntl.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>

#include "TerminationSignals.h"

namespace vitalon {

namespace {

// A closed terminal (SIGHUP) ends the program as cleanly as Ctrl+C or a kill.
constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    const ssize_t ignored = write(signalPipe[1], &byte, 1);  // async-signal-safe
    (void)ignored;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (pipe(signalPipe) != 0) {
        return;  // without the pipe the default action (termination) stays in force
    }
    for (int fd : signalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char buf[16];
        while (read(signalPipe[0], buf, sizeof buf) > 0) {
        }
        if (onSignal_) {
            onSignal_();
        }
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kTerminationSignals) {
        sigaction(signal, &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals() {
    for (int signal : kTerminationSignals) {
        std::signal(signal, SIG_DFL);
    }
    notifier_.reset();
    for (int& fd : signalPipe) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

void ignoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace vitalon
