#include "VncScreen.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace vitalon::testing {
namespace {

using Clock = std::chrono::steady_clock;

void put16(std::vector<std::uint8_t>& out, int v) {
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xff));
    out.push_back(static_cast<std::uint8_t>(v & 0xff));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, static_cast<int>(v >> 16));
    put16(out, static_cast<int>(v & 0xffff));
}

int get16(const std::uint8_t* p) {
    return (p[0] << 8) | p[1];
}

std::uint32_t get32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(get16(p)) << 16) | static_cast<std::uint32_t>(get16(p + 2));
}

// A menu's window comes as one rectangle or as slices of one width stacked
// without gaps; changes elsewhere (labels, the trace's columns) are other rectangles.
std::optional<VncScreen::Rect> findMenu(std::vector<VncScreen::Rect> rects,
                                        const VncScreen::Rect& where, int minHeight) {
    std::sort(rects.begin(), rects.end(), [](const auto& a, const auto& b) {
        return std::tie(a.x, a.w, a.y) < std::tie(b.x, b.w, b.y);
    });
    for (std::size_t i = 0; i < rects.size();) {
        const VncScreen::Rect& first = rects[i];
        int top = first.y;
        int bottom = first.y + first.h;
        std::size_t j = i + 1;
        for (; j < rects.size() && rects[j].x == first.x && rects[j].w == first.w &&
               rects[j].y <= bottom;
             ++j) {
            bottom = std::max(bottom, rects[j].y + rects[j].h);
        }
        const VncScreen::Rect stack{first.x, top, first.w, bottom - top};
        if (stack.w >= 40 && stack.h >= minHeight && where.contains(stack)) {
            return stack;
        }
        i = j;
    }
    return std::nullopt;
}

}  // namespace

int VncScreen::freePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("no free TCP port for the VNC screen");
    }
    const int port = ntohs(addr.sin_port);
    close(s);
    return port;
}

std::string VncScreen::platform(int port) {
    return "vnc:port=" + std::to_string(port) + ":size=" + std::to_string(kWidth) + "x" +
           std::to_string(kHeight);
}

VncScreen::VncScreen(int port, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    while (true) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            break;
        }
        close(fd_);
        fd_ = -1;
        if (Clock::now() > until) {
            throw std::runtime_error("the VNC screen did not come up");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the child is starting
    }

    // Version 3.3: the server names the security type, 1 is none.
    std::uint8_t version[12];
    std::uint8_t security[4];
    if (!readExact(version, sizeof version, until)) {
        throw std::runtime_error("no VNC greeting");
    }
    send({'R', 'F', 'B', ' ', '0', '0', '3', '.', '0', '0', '3', '\n'});
    if (!readExact(security, sizeof security, until) || get32(security) != 1) {
        throw std::runtime_error("the VNC server wants authentication");
    }
    send({1});  // ClientInit: shared
    std::uint8_t init[24];
    if (!readExact(init, sizeof init, until)) {
        throw std::runtime_error("no VNC server init");
    }
    if (init[4] != 32) {
        throw std::runtime_error("the VNC screen is not 32 bits a pixel");
    }
    frame_.assign(static_cast<std::size_t>(kWidth) * kHeight, 0u);
    std::vector<std::uint8_t> name(get32(init + 20));
    if (!readExact(name.data(), name.size(), until)) {
        throw std::runtime_error("no VNC server name");
    }
    // The server's own pixel format, stated back: Qt's server has no client
    // format until one is set, and cannot send updates without it.
    std::vector<std::uint8_t> format = {0, 0, 0, 0};
    format.insert(format.end(), init + 4, init + 20);
    send(format);
    std::vector<std::uint8_t> encodings = {2, 0};  // SetEncodings: raw only
    put16(encodings, 1);
    put32(encodings, 0);
    send(encodings);

    // The first full picture; later requests report changes only.
    requestUpdate(false);
    std::vector<Rect> rects;
    while (updateRequested_) {
        if (!readMessage(rects, until)) {
            throw std::runtime_error("no first picture of the VNC screen");
        }
    }
}

VncScreen::~VncScreen() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void VncScreen::send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            throw std::runtime_error("the VNC connection broke");
        }
        done += static_cast<std::size_t>(n);
    }
}

bool VncScreen::readExact(std::uint8_t* into, std::size_t n, Clock::time_point until) {
    std::size_t done = 0;
    while (done < n) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
            if (done == 0) {
                return false;
            }
            // A message that has begun is finished: the stream must stay in step.
            until = Clock::now() + std::chrono::seconds(10);
            if (poll(&p, 1, 10000) <= 0) {
                throw std::runtime_error("the VNC server stopped in the middle of a message");
            }
        }
        const ssize_t got = recv(fd_, into + done, n - done, 0);
        if (got <= 0) {
            throw std::runtime_error("the VNC connection closed");
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

void VncScreen::requestUpdate(bool incremental) {
    std::vector<std::uint8_t> m = {3, static_cast<std::uint8_t>(incremental ? 1 : 0)};
    put16(m, 0);
    put16(m, 0);
    put16(m, kWidth);
    put16(m, kHeight);
    send(m);
    updateRequested_ = true;
}

bool VncScreen::readMessage(std::vector<Rect>& rects, Clock::time_point until) {
    std::uint8_t type = 0;
    if (!readExact(&type, 1, until)) {
        return false;
    }
    const auto rest = Clock::now() + std::chrono::seconds(10);
    switch (type) {
        case 0: {  // FramebufferUpdate
            std::uint8_t head[3];
            readExact(head, sizeof head, rest);
            const int count = get16(head + 1);
            for (int i = 0; i < count; ++i) {
                std::uint8_t r[12];
                readExact(r, sizeof r, rest);
                const Rect rect{get16(r), get16(r + 2), get16(r + 4), get16(r + 6)};
                if (get32(r + 8) != 0) {
                    throw std::runtime_error("the VNC server sent an encoding other than raw");
                }
                std::vector<std::uint32_t> pixels(static_cast<std::size_t>(rect.w) *
                                                  static_cast<std::size_t>(rect.h));
                readExact(reinterpret_cast<std::uint8_t*>(pixels.data()), pixels.size() * 4, rest);
                for (int row = 0; row < rect.h; ++row) {
                    for (int col = 0; col < rect.w; ++col) {
                        const int x = rect.x + col;
                        const int y = rect.y + row;
                        if (x < kWidth && y < kHeight) {
                            frame_[static_cast<std::size_t>(y * kWidth + x)] =
                                pixels[static_cast<std::size_t>(row * rect.w + col)];
                        }
                    }
                }
                rects.push_back(rect);
            }
            updateRequested_ = false;
            return true;
        }
        case 2:  // Bell
            return true;
        case 3: {  // ServerCutText
            std::uint8_t head[7];
            readExact(head, sizeof head, rest);
            std::vector<std::uint8_t> text(get32(head + 3));
            readExact(text.data(), text.size(), rest);
            return true;
        }
        default:
            throw std::runtime_error("unexpected VNC message " + std::to_string(type));
    }
}

void VncScreen::drainPending() {
    std::vector<Rect> rects;
    while (readMessage(rects, Clock::now())) {
    }
}

void VncScreen::key(std::uint32_t sym, bool down) {
    std::vector<std::uint8_t> m = {4, static_cast<std::uint8_t>(down ? 1 : 0), 0, 0};
    put32(m, sym);
    send(m);
}

void VncScreen::tap(std::uint32_t sym) {
    key(sym, true);
    key(sym, false);
}

void VncScreen::click(int x, int y) {
    for (const int buttons : {0, 1, 0}) {  // move there, press, release
        std::vector<std::uint8_t> m = {5, static_cast<std::uint8_t>(buttons)};
        put16(m, x);
        put16(m, y);
        send(m);
    }
}

bool VncScreen::waitUntilDrawn(int x, int y, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (pixel(x, y) == 0) {
        if (!updateRequested_) {
            requestUpdate(true);
        }
        std::vector<Rect> rects;
        if (!readMessage(rects, until)) {
            return false;
        }
    }
    return true;
}

std::optional<VncScreen::Rect> VncScreen::openMenu(char mnemonic, const Rect& where, int minHeight,
                                                   std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    drainPending();
    if (!updateRequested_) {
        requestUpdate(true);
    }
    key(keysym::AltL, true);
    tap(static_cast<std::uint32_t>(std::tolower(static_cast<unsigned char>(mnemonic))));
    key(keysym::AltL, false);
    while (true) {
        std::vector<Rect> rects;
        if (!readMessage(rects, until)) {
            return std::nullopt;
        }
        if (const auto menu = findMenu(rects, where, minHeight)) {
            return menu;
        }
        if (!updateRequested_) {
            requestUpdate(true);
        }
    }
}

}  // namespace vitalon::testing
