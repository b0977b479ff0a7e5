#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Controls.h"
#include "SerialPort.h"

namespace vitalon::testing {

class FakeLabel : public Label {
public:
    void Caption(const std::string& text) override { caption = text; }
    std::string Caption() const override { return caption; }
    void BackColor(std::uint32_t color) override { backColor = color; }

    std::string caption;
    std::uint32_t backColor = 0;
};

class FakeMenuItem : public MenuItem {
public:
    void Enabled(bool e) override { enabled = e; }
    bool Enabled() const override { return enabled; }
    void Checked(bool c) override { checked = c; }
    bool Checked() const override { return checked; }

    bool enabled = true;
    bool checked = false;
};

// A serial port whose devices are a set of port numbers that can open. Every
// call is recorded as text, so tests can check order as well as effect.
class FakeSerialPort : public SerialPort {
public:
    void CommPort(std::int16_t port) override {
        log.push_back("CommPort " + std::to_string(port));
        fail("CommPort");
        port_ = port;
    }
    void Settings(const std::string& s) override {
        log.push_back("Settings " + s);
        fail("Settings");
    }
    void InputMode(std::int32_t m) override {
        log.push_back("InputMode " + std::to_string(m));
        fail("InputMode");
    }
    void RThreshold(std::int16_t n) override {
        log.push_back("RThreshold " + std::to_string(n));
        fail("RThreshold");
    }
    void SThreshold(std::int16_t n) override {
        log.push_back("SThreshold " + std::to_string(n));
        fail("SThreshold");
    }
    void PortOpen(bool open) override {
        log.push_back(open ? "open " + std::to_string(port_) : "close");
        fail(open ? "open" : "close");
        if (!open) {
            open_ = false;
            return;
        }
        if (open_) {
            throw PortError(PortErrorKind::Other, "port already open");
        }
        if (!openable.count(port_)) {
            throw PortError(PortErrorKind::NotFound, "no such device");
        }
        open_ = true;
        ++opens[port_];
    }
    bool PortOpen() const override { return open_; }
    void Output(std::string_view bytes) override {
        if (!open_) {
            throw PortError(PortErrorKind::NotOpen, "the port is not open");
        }
        writes.emplace_back(bytes);
    }
    std::int16_t CommEvent() const override { return event; }
    std::int16_t InBufferCount() const override {
        return static_cast<std::int16_t>(inBuffer.size());
    }
    std::vector<std::uint8_t> Input() override {
        std::vector<std::uint8_t> out;
        const std::size_t n =
            chunks.empty() ? inBuffer.size() : std::min(chunks.front(), inBuffer.size());
        if (!chunks.empty()) {
            chunks.pop_front();
        }
        out.assign(inBuffer.begin(), inBuffer.begin() + static_cast<std::ptrdiff_t>(n));
        inBuffer.erase(inBuffer.begin(), inBuffer.begin() + static_cast<std::ptrdiff_t>(n));
        ++inputCalls;
        return out;
    }

    std::set<int> openable;         // port numbers whose open succeeds
    std::set<std::string> failing;  // "port:step" pairs that throw, e.g. "4:close"
    std::map<int, int> opens;       // successful opens per port
    std::vector<std::string> log;
    std::vector<std::string> writes;  // one entry per Output call
    std::int16_t event = comm_event::Receive;
    std::deque<std::uint8_t> inBuffer;
    std::deque<std::size_t> chunks;  // sizes of successive Input() reads; all when empty
    int inputCalls = 0;

private:
    void fail(const std::string& step) {
        if (failing.count(std::to_string(port_) + ":" + step)) {
            throw PortError(PortErrorKind::Other, step + " failed");
        }
    }
    std::int16_t port_ = 0;
    bool open_ = false;
};

}  // namespace vitalon::testing
