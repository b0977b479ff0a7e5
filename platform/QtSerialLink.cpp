#include "QtSerialLink.h"

#include <QFileInfo>
#include <QSocketNotifier>

namespace vitalon {
namespace {

QSerialPort::Parity toQt(Parity p) {
    switch (p) {
        case Parity::Even:
            return QSerialPort::EvenParity;
        case Parity::Odd:
            return QSerialPort::OddParity;
        case Parity::None:
            break;
    }
    return QSerialPort::NoParity;
}

}  // namespace

QtSerialLink::QtSerialLink(QObject* parent) : QObject(parent), serial_(this) {
    connect(&serial_, &QSerialPort::readyRead, this, &QtSerialLink::readAvailable);
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialLink::onError);
    resumeTimer_.setSingleShot(true);
    // Never early: a delivery a little before the frame is due would miss it.
    resumeTimer_.setTimerType(Qt::PreciseTimer);
    connect(&resumeTimer_, &QTimer::timeout, this, &QtSerialLink::resumeReading);
}

void QtSerialLink::open(const std::string& device, const LineSettings& settings) {
    if (serial_.isOpen()) {
        throw PortError(PortErrorKind::Other, "the port is already open");
    }
    serial_.setPortName(QString::fromStdString(device));
    serial_.clearError();
    opening_ = true;
    const bool ok = serial_.open(QIODevice::ReadWrite);
    opening_ = false;
    if (!ok) {
        throwOpenFailure(device);
    }
    const bool configured =
        serial_.setBaudRate(settings.baud) && serial_.setParity(toQt(settings.parity)) &&
        serial_.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits)) &&
        serial_.setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    if (!configured) {
        const std::string reason = serial_.errorString().toStdString();
        serial_.close();
        throw PortError(PortErrorKind::Other,
                        device + ": the line settings were refused (" + reason + ").");
    }
}

void QtSerialLink::throwOpenFailure(const std::string& device) {
    const QSerialPort::SerialPortError error = serial_.error();
    const std::string reason = serial_.errorString().toStdString();
    serial_.clearError();
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            throw PortError(PortErrorKind::NotFound, device + " does not exist (" + reason + ").");
        case QSerialPort::PermissionError: {
            // Qt reports both a held device and a forbidden one as a permission
            // error; the device node's access rights tell the two apart.
            const QFileInfo info(QString::fromStdString(device));
            if (info.exists() && (!info.isReadable() || !info.isWritable())) {
                throw PortError(PortErrorKind::PermissionDenied,
                                device + ": permission denied (" + reason + ").");
            }
            throw PortError(PortErrorKind::Busy,
                            device + " is in use by another program (" + reason + ").");
        }
        default:
            throw PortError(PortErrorKind::Other, device + ": " + reason + ".");
    }
}

void QtSerialLink::close() {
    resumeTimer_.stop();
    if (serial_.isOpen()) {
        serial_.close();
    }
}

bool QtSerialLink::isOpen() const {
    return serial_.isOpen();
}

void QtSerialLink::write(std::string_view bytes) {
    if (!serial_.isOpen()) {
        throw PortError(PortErrorKind::NotOpen, "no port is open.");
    }
    // A write error reported while the bytes are handed over belongs to this
    // write: it fails the write, and the link stays open.
    writing_ = true;
    writeError_.clear();
    const qint64 written = serial_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (written > 0) {
        serial_.flush();  // hands the bytes to the device now, without blocking
    }
    writing_ = false;
    if (written != static_cast<qint64>(bytes.size()) || !writeError_.empty()) {
        const std::string reason =
            writeError_.empty() ? serial_.errorString().toStdString() : writeError_;
        throw PortError(PortErrorKind::Other, "the write failed (" + reason + ").");
    }
}

void QtSerialLink::readAvailable() {
    // Read straight into a buffer kept between reads: no allocation per chunk
    // once it has grown to the usual chunk size.
    const qint64 available = serial_.bytesAvailable();
    if (available <= 0) {
        return;
    }
    buffer_.resize(static_cast<std::size_t>(available));
    const qint64 got = serial_.read(reinterpret_cast<char*>(buffer_.data()), available);
    if (got > 0 && listener_ != nullptr) {
        listener_->onChunk(ArrivalClock::now(),
                           std::span(buffer_.data(), static_cast<std::size_t>(got)));
    }
    pauseReading();  // after the delivery: its listener may have closed or reopened the link
}

QSocketNotifier* QtSerialLink::readNotifier() {
    // QSerialPort makes a new notifier for every open; a kept one is checked
    // against the port's present descriptor.
    const auto handle = static_cast<qintptr>(serial_.handle());
    if (readNotifier_ != nullptr && readNotifier_->socket() == handle) {
        return readNotifier_;
    }
    readNotifier_ = nullptr;
    const auto notifiers =
        serial_.findChildren<QSocketNotifier*>(QString(), Qt::FindDirectChildrenOnly);
    for (QSocketNotifier* notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read && notifier->socket() == handle) {
            readNotifier_ = notifier;
            break;
        }
    }
    return readNotifier_;
}

void QtSerialLink::pauseReading() {
    if (deliveryIntervalMs_ <= 0 || !serial_.isOpen()) {
        return;
    }
    if (QSocketNotifier* notifier = readNotifier()) {
        notifier->setEnabled(false);
        if (!resumeTimer_.isActive()) {  // a read within a pause does not lengthen it
            resumeTimer_.start(deliveryIntervalMs_);
        }
    }
}

void QtSerialLink::resumeReading() {
    if (!serial_.isOpen()) {
        return;
    }
    // While bytes keep coming they are fetched here, a frame at a time, so
    // that no wake-up comes between frames. A frame that brought nothing
    // hands the port back to the notifier, so the next byte is delivered as
    // soon as it comes.
    if (serial_.waitForReadyRead(0)) {
        return;  // delivered, and the next pause begun, by readAvailable
    }
    if (serial_.error() == QSerialPort::TimeoutError) {
        serial_.clearError();  // "nothing yet" from the zero wait
    }
    if (!serial_.isOpen()) {
        return;  // the wait found the line dead
    }
    if (QSocketNotifier* notifier = readNotifier()) {
        notifier->setEnabled(true);
    }
}

void QtSerialLink::onError(QSerialPort::SerialPortError error) {
    if (opening_ || error == QSerialPort::NoError || error == QSerialPort::TimeoutError) {
        return;  // open failures are reported by open() itself
    }
    const std::string reason = serial_.errorString().toStdString();
    serial_.clearError();
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError) {
        if (!serial_.isOpen()) {
            return;
        }
        serial_.close();
        if (listener_ != nullptr) {
            listener_->linkLost(reason);
        }
        return;
    }
    if (writing_) {
        writeError_ = reason;
    }
    // Any other error outside a write (including a write error on bytes queued
    // earlier) leaves the link as it is; a dead line shows as a read error.
}

}  // namespace vitalon
