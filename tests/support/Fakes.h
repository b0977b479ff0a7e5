#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Controls.h"
#include "SerialLink.h"

namespace vitalon::testing {

class FakeLabel : public Label {
public:
    void setText(const std::string& t) override { caption = t; }
    std::string text() const override { return caption; }
    void setBackgroundColor(std::uint32_t color) override { backColor = color; }

    std::string caption;
    std::uint32_t backColor = 0;
};

class FakeMenuItem : public MenuItem {
public:
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
    void setChecked(bool c) override { checked = c; }
    bool isChecked() const override { return checked; }

    bool enabled = true;
    bool checked = false;
};

// A serial link whose devices are a set of paths that can open. Opens and
// closes are logged, writes kept; receive() and lose() play the line's side.
class FakeLink : public SerialLink {
public:
    void open(const std::string& device, const LineSettings& s) override {
        log.push_back("open " + device);
        device_ = device;
        fail(device + ":open");
        if (open_) {
            throw PortError(PortErrorKind::Other, "port already open");
        }
        if (!openable.count(device)) {
            throw PortError(PortErrorKind::NotFound, "no such device");
        }
        open_ = true;
        settings = s;
        ++opens[device];
    }
    // Like close(2), a failing close still leaves the link closed.
    void close() override {
        log.push_back("close");
        open_ = false;
        fail(device_ + ":close");
    }
    bool isOpen() const override { return open_; }
    void write(std::string_view bytes) override {
        if (!open_) {
            throw PortError(PortErrorKind::NotOpen, "the port is not open");
        }
        writes.emplace_back(bytes);
    }
    void setListener(LinkListener* l) override { listener = l; }

    // A chunk read at `arrival` (by default: now).
    void receive(const std::vector<std::uint8_t>& bytes,
                 ArrivalTime arrival = ArrivalClock::now()) {
        listener->onChunk(arrival, bytes);
    }
    void lose(const std::string& reason) {
        open_ = false;
        listener->linkLost(reason);
    }

    std::set<std::string> openable;  // device paths whose open succeeds
    std::set<std::string> failing;   // "device:step" pairs that throw, e.g. "com4:close"
    std::map<std::string, int> opens;
    std::vector<std::string> log;
    std::vector<std::string> writes;  // one entry per write
    LineSettings settings;            // of the last open
    LinkListener* listener = nullptr;

private:
    void fail(const std::string& step) {
        if (failing.count(step)) {
            throw PortError(PortErrorKind::Other, step.substr(step.find(':') + 1) + " failed");
        }
    }
    std::string device_;  // of the last open attempt
    bool open_ = false;
};

}  // namespace vitalon::testing
