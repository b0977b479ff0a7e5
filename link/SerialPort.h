#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vitalon {

// Why a serial-port operation failed; the user-facing text is built from it.
enum class PortErrorKind {
    NoDevice,          // the port number has no device behind it
    NotFound,          // the device does not exist (any more)
    Busy,              // another program holds the device
    PermissionDenied,  // the user may not open the device
    NotOpen,           // a write or read on a closed port
    BadSettings,       // a malformed line-settings string
    Other,
};

// A failing serial-port member throws this. It ends the handler it happens in;
// every event entry point catches it and turns it into a status-bar message.
class PortError : public std::runtime_error {
public:
    PortError(PortErrorKind kind, const std::string& what)
        : std::runtime_error(what), kind_(kind) {}
    PortErrorKind kind() const { return kind_; }

private:
    PortErrorKind kind_;
};

// Notification codes delivered through OnComm and read back with CommEvent.
namespace comm_event {
inline constexpr std::int16_t Send = 1;      // the output buffer has become empty
inline constexpr std::int16_t Receive = 2;   // received data is waiting
inline constexpr std::int16_t Lost = 1010;   // the device went away; the port has been closed
inline constexpr std::int16_t Error = 1011;  // any other port error
}  // namespace comm_event

// The one serial port of the program, with the members the rest of the
// program uses. Writes of configuration members apply to the next open.
// All members run on the event-loop thread; OnComm is delivered there too.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual void CommPort(std::int16_t port) = 0;            // written only while closed
    virtual void Settings(const std::string& settings) = 0;  // "9600,n,8,1"
    virtual void InputMode(std::int32_t mode) = 0;           // 1 = binary
    virtual void RThreshold(std::int16_t bytes) = 0;
    virtual void SThreshold(std::int16_t bytes) = 0;
    virtual void PortOpen(bool open) = 0;  // true opens with the current settings, false closes
    virtual bool PortOpen() const = 0;
    virtual void Output(std::string_view bytes) = 0;  // queued as is, nothing added
    virtual std::int16_t CommEvent() const = 0;
    virtual std::int16_t InBufferCount() const = 0;
    virtual std::vector<std::uint8_t> Input() = 0;  // removes and returns all waiting bytes

    // Raised on the event-loop thread whenever the port has something to report;
    // the handler reads CommEvent().
    std::function<void()> OnComm;
};

}  // namespace vitalon
