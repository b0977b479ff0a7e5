#include "QtSerialLink.h"

#include <QByteArray>
#include <QFileInfo>

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
    const QByteArray bytes = serial_.readAll();
    if (bytes.isEmpty() || listener_ == nullptr) {
        return;
    }
    listener_->onChunk(ArrivalClock::now(),
                       std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                 static_cast<std::size_t>(bytes.size())));
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
