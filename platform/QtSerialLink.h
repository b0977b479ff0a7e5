#pragma once

#include <QObject>
#include <QSerialPort>
#include <vector>

#include "SerialLink.h"

namespace vitalon {

// The serial link on QSerialPort. Every readyRead hands all waiting bytes to
// the listener in one span. A read or resource error (a pulled cable, a
// vanished pseudo-terminal) closes the link at once, since QSerialPort would
// otherwise report it again in a tight loop, and tells the listener the link
// is lost. A write error fails the write that caused it and leaves the link
// open: the line itself may still be fine.
class QtSerialLink : public QObject, public SerialLink {
    Q_OBJECT
public:
    explicit QtSerialLink(QObject* parent = nullptr);

    void open(const std::string& device, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override;
    void write(std::string_view bytes) override;
    void setListener(LinkListener* listener) override { listener_ = listener; }

private:
    void readAvailable();
    void onError(QSerialPort::SerialPortError error);
    [[noreturn]] void throwOpenFailure(const std::string& device);

    QSerialPort serial_;  // a child of this object, so its signals can be found and watched
    LinkListener* listener_ = nullptr;
    std::vector<std::uint8_t> buffer_;
    bool opening_ = false;
    bool writing_ = false;
    std::string writeError_;
};

}  // namespace vitalon
