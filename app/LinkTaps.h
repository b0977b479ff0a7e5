#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "LinkController.h"
#include "SerialLink.h"

namespace vitalon {

// The serial link as the setting selectors see it: everything goes to the
// real link, and each command that went out whole is told to `onCommandSent`
// (a write that throws is not). Only the selectors write through it, so what
// it sees are the module commands and nothing of the port scan.
class CommandTap : public SerialLink {
public:
    explicit CommandTap(SerialLink& link) : link_(link) {}

    void open(const std::string& device, const LineSettings& settings) override {
        link_.open(device, settings);
    }
    void close() override { link_.close(); }
    bool isOpen() const override { return link_.isOpen(); }
    void write(std::string_view bytes) override {
        link_.write(bytes);
        if (onCommandSent) {
            onCommandSent(bytes);
        }
    }
    void setListener(LinkListener* listener) override { link_.setListener(listener); }

    std::function<void(std::string_view command)> onCommandSent;

private:
    SerialLink& link_;
};

// The serial link as the link controller sees it: everything goes to the real
// link and its notifications come back through here, so a lost link is told
// to `onLinkLost` first, and the first bytes after it (the link is open
// again, whoever reopened it) to `onLinkBack`.
class LinkEventTap : public SerialLink, private LinkListener {
public:
    explicit LinkEventTap(SerialLink& link) : link_(link) {}

    void open(const std::string& device, const LineSettings& settings) override {
        link_.open(device, settings);
    }
    void close() override { link_.close(); }
    bool isOpen() const override { return link_.isOpen(); }
    void write(std::string_view bytes) override { link_.write(bytes); }
    void setListener(LinkListener* listener) override {
        listener_ = listener;
        link_.setListener(listener ? this : nullptr);
    }

    std::function<void(const std::string& reason)> onLinkLost;
    std::function<void()> onLinkBack;

private:
    void bytesReceived(std::span<const std::uint8_t> bytes) override {
        if (lost_) {
            lost_ = false;
            if (onLinkBack) {
                onLinkBack();
            }
        }
        if (listener_) {
            listener_->bytesReceived(bytes);
        }
    }
    void linkLost(const std::string& reason) override {
        lost_ = true;
        if (onLinkLost) {
            onLinkLost(reason);
        }
        if (listener_) {
            listener_->linkLost(reason);
        }
    }

    SerialLink& link_;
    LinkListener* listener_ = nullptr;
    bool lost_ = false;
};

// Received chunks on their way to the decoder; `beforeChunk` runs first, so
// a listener can date the events of the chunk.
class ChunkTap : public ByteSink {
public:
    explicit ChunkTap(ByteSink& next) : next_(next) {}

    void receive(std::span<const std::uint8_t> bytes) override {
        if (beforeChunk) {
            beforeChunk();
        }
        next_.receive(bytes);
    }

    std::function<void()> beforeChunk;

private:
    ByteSink& next_;
};

}  // namespace vitalon
