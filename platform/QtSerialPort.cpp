#include "QtSerialPort.h"

#include <QFileInfo>
#include <limits>

namespace vitalon {
namespace {

QSerialPort::Parity toQt(Parity p) {
    switch (p) {
        case Parity::Even:
            return QSerialPort::EvenParity;
        case Parity::Odd:
            return QSerialPort::OddParity;
        case Parity::Mark:
            return QSerialPort::MarkParity;
        case Parity::Space:
            return QSerialPort::SpaceParity;
        case Parity::None:
            break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQtStop(double stop) {
    if (stop > 1.9) {
        return QSerialPort::TwoStop;
    }
    return stop > 1.4 ? QSerialPort::OneAndHalfStop : QSerialPort::OneStop;
}

}  // namespace

QtSerialPort::QtSerialPort(PortAssignment devices, QObject* parent)
    : QObject(parent), serial_(this), devices_(std::move(devices)) {
    connect(&serial_, &QSerialPort::readyRead, this, [this] {
        if (rThreshold_ > 0) {
            raise(comm_event::Receive);
        }
    });
    connect(&serial_, &QSerialPort::bytesWritten, this, [this](qint64) {
        if (sThreshold_ > 0 && serial_.bytesToWrite() == 0) {
            raise(comm_event::Send);
        }
    });
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

std::string QtSerialPort::devicePath(std::int16_t port) const {
    if (port < 1 || port > 8) {
        return {};
    }
    const auto& d = devices_[static_cast<std::size_t>(port - 1)];
    return d ? d->path : std::string();
}

void QtSerialPort::CommPort(std::int16_t port) {
    if (serial_.isOpen()) {
        throw PortError(PortErrorKind::Other,
                        "the port number cannot change while the port is open");
    }
    commPort_ = port;
}

void QtSerialPort::Settings(const std::string& settings) {
    settings_ = parseLineSettings(settings);
}

void QtSerialPort::InputMode(std::int32_t mode) {
    if (mode != 0 && mode != 1) {
        throw PortError(PortErrorKind::BadSettings, "input mode must be 0 (text) or 1 (binary)");
    }
    // Bytes are always handed over unaltered; text and binary differ only in type.
}

void QtSerialPort::RThreshold(std::int16_t bytes) {
    rThreshold_ = bytes;
}
void QtSerialPort::SThreshold(std::int16_t bytes) {
    sThreshold_ = bytes;
}

void QtSerialPort::PortOpen(bool open) {
    if (!open) {
        if (serial_.isOpen()) {
            serial_.close();
        }
        return;
    }
    if (serial_.isOpen()) {
        throw PortError(PortErrorKind::Other, "the port is already open");
    }
    const std::string device = devicePath(commPort_);
    if (device.empty()) {
        throw PortError(PortErrorKind::NoDevice, "COM" + std::to_string(commPort_) +
                                                     " has no serial device on this computer.");
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
        serial_.setBaudRate(settings_.baud) && serial_.setParity(toQt(settings_.parity)) &&
        serial_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits)) &&
        serial_.setStopBits(toQtStop(settings_.stopBits));
    if (!configured) {
        const std::string reason = serial_.errorString().toStdString();
        serial_.close();
        throw PortError(PortErrorKind::Other,
                        device + ": the line settings were refused (" + reason + ").");
    }
    event_ = 0;
    lastError_.clear();
}

void QtSerialPort::throwOpenFailure(const std::string& device) {
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

bool QtSerialPort::PortOpen() const {
    return serial_.isOpen();
}

void QtSerialPort::Output(std::string_view bytes) {
    if (!serial_.isOpen()) {
        throw PortError(PortErrorKind::NotOpen, "no port is open.");
    }
    const qint64 written = serial_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size())) {
        throw PortError(PortErrorKind::Other,
                        "the write failed (" + serial_.errorString().toStdString() + ").");
    }
}

std::int16_t QtSerialPort::CommEvent() const {
    return event_;
}

std::int16_t QtSerialPort::InBufferCount() const {
    if (!serial_.isOpen()) {
        return 0;
    }
    const qint64 n = serial_.bytesAvailable();
    return static_cast<std::int16_t>(std::min<qint64>(n, std::numeric_limits<std::int16_t>::max()));
}

std::vector<std::uint8_t> QtSerialPort::Input() {
    if (!serial_.isOpen()) {
        return {};
    }
    // Read straight into the result: one allocation and one copy per read.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(serial_.bytesAvailable()));
    const qint64 got =
        serial_.read(reinterpret_cast<char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

void QtSerialPort::raise(std::int16_t event) {
    event_ = event;
    if (OnComm) {
        OnComm();
    }
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    if (opening_ || error == QSerialPort::NoError || error == QSerialPort::TimeoutError) {
        return;  // open failures are reported by PortOpen itself
    }
    lastError_ = serial_.errorString().toStdString();
    serial_.clearError();
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError ||
        error == QSerialPort::WriteError) {
        if (!serial_.isOpen()) {
            return;
        }
        serial_.close();
        raise(comm_event::Lost);
        return;
    }
    raise(comm_event::Error);
}

}  // namespace vitalon
