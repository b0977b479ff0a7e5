// POSIX only: pseudo-terminals through openpty(3).
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "PseudoTerminal.h"

namespace vitalon {
namespace {

[[noreturn]] void fail(const char* call, int master, int slave) {
    const std::string reason = std::strerror(errno);
    if (slave >= 0) {
        ::close(slave);
    }
    if (master >= 0) {
        ::close(master);
    }
    throw std::runtime_error(std::string("cannot set up a pseudo-terminal: ") + call + ": " +
                             reason);
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    int master = -1;
    int slave = -1;
    std::array<char, 256> name{};
    if (::openpty(&master, &slave, name.data(), nullptr, nullptr) != 0) {
        fail("openpty", -1, -1);
    }
    termios raw{};
    if (::tcgetattr(slave, &raw) != 0) {
        fail("tcgetattr", master, slave);
    }
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    // The terminal settings stay with the pair after the slave is closed.
    if (::tcsetattr(slave, TCSANOW, &raw) != 0) {
        fail("tcsetattr", master, slave);
    }
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 ||
        ::fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(slave, F_SETFD, FD_CLOEXEC) != 0) {
        fail("fcntl", master, slave);
    }
    master_ = master;
    slave_ = slave;
    slavePath_ = name.data();
}

PseudoTerminal::PseudoTerminal(PseudoTerminal&& other) noexcept
    : master_(other.master_), slave_(other.slave_), slavePath_(std::move(other.slavePath_)) {
    other.master_ = -1;
    other.slave_ = -1;
}

PseudoTerminal::~PseudoTerminal() {
    closeSlave();
    closeMaster();
}

void PseudoTerminal::closeSlave() {
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

void PseudoTerminal::closeMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

}  // namespace vitalon
