#pragma once

#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>
#include <vector>

#include "SerialLink.h"

namespace vitalon {

// The serial link on QSerialPort. Every readyRead hands all waiting bytes to
// the listener in one span. A read or resource error (a pulled cable, a
// vanished pseudo-terminal) closes the link at once, since QSerialPort would
// otherwise report it again in a tight loop, and tells the listener the link
// is lost. A write error fails the write that caused it and leaves the link
// open: the line itself may still be fine.
//
// Deliveries are paced to the display's frame: after a delivery the link stops
// watching the port for one frame (QSerialPort's read notifier, found among its
// children, is switched off), then fetches everything that came meanwhile in
// one span. At 300 bytes a second, one byte per USB packet, that is one
// wake-up a frame instead of one a byte, and a wake-up costs more than the
// byte's whole decoding and drawing; the trace shows the bytes at the next
// frame either way. A byte after a quiet frame is delivered at once, so no
// byte waits longer than one frame. Where the port's read notifier cannot be
// found (QSerialPort reads differently off Unix), every read is delivered as
// it comes.
class QtSerialLink : public QObject, public SerialLink {
    Q_OBJECT
public:
    explicit QtSerialLink(QObject* parent = nullptr);

    void open(const std::string& device, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override;
    void write(std::string_view bytes) override;
    void setListener(LinkListener* listener) override { listener_ = listener; }

    // The shortest time between two deliveries, about one display frame; 0
    // delivers every read as it comes.
    static constexpr int kDeliveryIntervalMs = 16;
    void setDeliveryInterval(int ms) { deliveryIntervalMs_ = ms; }

private:
    QSocketNotifier* readNotifier();
    void pauseReading();
    void resumeReading();
    void readAvailable();
    void onError(QSerialPort::SerialPortError error);
    [[noreturn]] void throwOpenFailure(const std::string& device);

    QSerialPort serial_;  // a child of this object, so its signals can be found and watched
    QPointer<QSocketNotifier> readNotifier_;  // QSerialPort's own, found among its children
    QTimer resumeTimer_;                      // ends the pause after a delivery
    int deliveryIntervalMs_ = kDeliveryIntervalMs;
    LinkListener* listener_ = nullptr;
    std::vector<std::uint8_t> buffer_;
    bool opening_ = false;
    bool writing_ = false;
    std::string writeError_;
};

}  // namespace vitalon
