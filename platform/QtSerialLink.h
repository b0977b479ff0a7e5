#pragma once

#include <QObject>
#include <QSerialPort>

#include "SerialLink.h"

namespace vitalon {

// The serial link on QSerialPort, read as its documentation shows: on every
// readyRead all waiting bytes are taken with readAll and handed to the
// listener as one chunk, dated with the time of the read. A read or resource
// error (a pulled cable, a vanished pseudo-terminal) closes the link at once,
// since QSerialPort would otherwise report it again in a tight loop, and tells
// the listener the link is lost. A write error fails the write that caused it
// and leaves the link open: the line itself may still be fine.
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

    QSerialPort serial_;  // a child of this object, so tests can find it and its signals
    LinkListener* listener_ = nullptr;
    bool opening_ = false;
    bool writing_ = false;
    std::string writeError_;
};

}  // namespace vitalon
