#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ChunkListener.h"
#include "LineSettings.h"

namespace vitalon {

// Why a serial-link operation failed; the user-facing text is built from it.
enum class PortErrorKind {
    NoDevice,          // the port number has no device behind it
    NotFound,          // the device does not exist (any more)
    Busy,              // another program holds the device
    PermissionDenied,  // the user may not open the device
    NotOpen,           // a write on a closed link
    Unavailable,       // the port's menu item is disabled, or there is no such port
    Other,
};

// A failing link operation throws this. It ends the handler it happens in;
// every event entry point catches it and turns it into a status-bar message.
class PortError : public std::runtime_error {
public:
    PortError(PortErrorKind kind, const std::string& what)
        : std::runtime_error(what), kind_(kind) {}
    PortErrorKind kind() const { return kind_; }

private:
    PortErrorKind kind_;
};

// What an open link reports, on the event-loop thread: each chunk of bytes as
// it came off the line (onChunk), dated once by the link with the time it was
// read, and the loss of the line.
class LinkListener : public ChunkListener {
public:
    // The device went away (a pulled cable, a vanished pseudo-terminal); the
    // link is already closed when this arrives.
    virtual void linkLost(const std::string& reason) = 0;
};

// The serial line to the module. Received bytes are pushed to the listener as
// they arrive; nothing is polled. All members run on the event-loop thread.
class SerialLink {
public:
    virtual ~SerialLink() = default;
    // Opens `device` with `settings`; throws PortError when it cannot.
    virtual void open(const std::string& device, const LineSettings& settings) = 0;
    virtual void close() = 0;  // does nothing when the link is closed
    virtual bool isOpen() const = 0;
    // Queues the bytes as they are, nothing added; throws PortError when they cannot be sent.
    virtual void write(std::string_view bytes) = 0;
    // Where notifications go; nullptr drops them.
    virtual void setListener(LinkListener* listener) = 0;
};

}  // namespace vitalon
