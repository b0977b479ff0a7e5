#pragma once

#include <QObject>
#include <QSerialPort>

#include "LineSettings.h"
#include "PortMessages.h"
#include "SerialPort.h"

namespace vitalon {

// The serial port on QSerialPort, asynchronous: readyRead raises OnComm with
// event 2, an emptied output buffer with event 1. A read or resource error
// (a pulled cable, a vanished pseudo-terminal) closes the port at once, since
// QSerialPort would otherwise report it again in a tight loop, and raises
// OnComm with comm_event::Lost; other errors raise comm_event::Error.
class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(PortAssignment devices, QObject* parent = nullptr);

    void CommPort(std::int16_t port) override;
    void Settings(const std::string& settings) override;
    void InputMode(std::int32_t mode) override;
    void RThreshold(std::int16_t bytes) override;
    void SThreshold(std::int16_t bytes) override;
    void PortOpen(bool open) override;
    bool PortOpen() const override;
    void Output(std::string_view bytes) override;
    std::int16_t CommEvent() const override;
    std::int16_t InBufferCount() const override;
    std::vector<std::uint8_t> Input() override;

    const PortAssignment& devices() const { return devices_; }
    std::int16_t commPort() const { return commPort_; }
    std::string devicePath(std::int16_t port) const;      // empty when the number has no device
    std::string lastError() const { return lastError_; }  // reason of the last loss or error

private:
    void raise(std::int16_t event);
    void onError(QSerialPort::SerialPortError error);
    [[noreturn]] void throwOpenFailure(const std::string& device);

    QSerialPort serial_;  // a child of this object, so its signals can be found and watched
    PortAssignment devices_;
    std::int16_t commPort_ = 0;
    LineSettings settings_;
    std::int16_t rThreshold_ = 0;
    std::int16_t sThreshold_ = 0;
    std::int16_t event_ = 0;
    bool opening_ = false;
    std::string lastError_;
};

}  // namespace vitalon
