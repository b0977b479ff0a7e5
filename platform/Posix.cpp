// POSIX-only: the one platform file that uses pseudo-terminals and signals directly.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <csignal>

#include "SimulatedModule.h"
#include "TerminationSignals.h"

namespace vitalon {

SimulatedModule::SimulatedModule(sim::Scenario scenario, QObject* parent)
    : QObject(parent), model_(std::move(scenario)) {
    int slave = -1;
    char name[256] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
        throw std::runtime_error(
            std::string("cannot open a pseudo-terminal for the simulated module: ") +
            std::strerror(errno));
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    close(slave);  // the program opens it by path, like any serial device
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    slavePath_ = name;

    readNotifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    readNotifier_->setEnabled(false);
    connect(readNotifier_.get(), &QSocketNotifier::activated, this, &SimulatedModule::readCommands);

    clock_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &SimulatedModule::pump);
    timer_.start();
}

SimulatedModule::~SimulatedModule() {
    readNotifier_.reset();
    close(master_);
}

bool SimulatedModule::readCommands() {
    std::uint8_t buf[256];
    while (true) {
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) {
            model_.receive(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            setListening(true);
            return true;
        }
        // EIO: nobody has the device open. The master would report this
        // hang-up at once on every poll, so it is watched by the timer instead.
        setListening(false);
        return false;
    }
}

void SimulatedModule::setListening(bool listening) {
    if (listening == listening_) {
        return;
    }
    listening_ = listening;
    readNotifier_->setEnabled(listening);
    if (!listening) {
        tcflush(master_, TCIOFLUSH);  // the next host gets current data, not a backlog
    }
}

void SimulatedModule::pump() {
    const qint64 now = clock_.nsecsElapsed();
    // After a stall the model skips ahead rather than flooding the line.
    const qint64 step = std::min<qint64>(now - lastNs_, 500'000'000);
    lastNs_ = now;
    out_.clear();
    model_.advance(std::chrono::nanoseconds(step), out_);
    if (!readCommands()) {
        return;  // the module streams into an unplugged cable
    }
    std::size_t done = 0;
    while (done < out_.size()) {
        const ssize_t n = write(master_, out_.data() + done, out_.size() - done);
        if (n <= 0) {
            break;  // a host that stops reading loses what it does not take
        }
        done += static_cast<std::size_t>(n);
    }
}

namespace {

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
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    notifier_.reset();
    for (int& fd : signalPipe) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

}  // namespace vitalon
