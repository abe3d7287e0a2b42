#include "platform/qt/posix/QtSerialPort.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <poll.h>

namespace dervix {

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent) {
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

QtSerialPort::~QtSerialPort() { close(); }

SerialError QtSerialPort::qtError() const {
    return {kErrorBase + static_cast<int>(port_.error()), port_.errorString().toStdString()};
}

SerialPort::Result QtSerialPort::setDevice(const std::string& devicePath) {
    if (port_.isOpen()) return kPortAlreadyOpen;
    device_ = QString::fromStdString(devicePath);
    return std::nullopt;
}

SerialPort::Result QtSerialPort::setLineSettings(const LineSettings& s) {
    if (s.baud <= 0) return kBadPortSetting;
    QSerialPort::DataBits dataBits;
    switch (s.dataBits) {
        case 5: dataBits = QSerialPort::Data5; break;
        case 6: dataBits = QSerialPort::Data6; break;
        case 7: dataBits = QSerialPort::Data7; break;
        case 8: dataBits = QSerialPort::Data8; break;
        default: return kBadPortSetting;
    }
    QSerialPort::Parity parity;
    switch (s.parity) {
        case 'N': parity = QSerialPort::NoParity; break;
        case 'E': parity = QSerialPort::EvenParity; break;
        case 'O': parity = QSerialPort::OddParity; break;
        case 'M': parity = QSerialPort::MarkParity; break;
        case 'S': parity = QSerialPort::SpaceParity; break;
        default: return kBadPortSetting;
    }
    QSerialPort::StopBits stopBits;
    switch (s.stopBits) {
        case 1: stopBits = QSerialPort::OneStop; break;
        case 15: stopBits = QSerialPort::OneAndHalfStop; break;
        case 2: stopBits = QSerialPort::TwoStop; break;
        default: return kBadPortSetting;
    }
    baud_ = s.baud;
    dataBits_ = dataBits;
    parity_ = parity;
    stopBits_ = stopBits;
    return std::nullopt;
}

SerialPort::Result QtSerialPort::setNoHandshaking() { return std::nullopt; }

SerialPort::Result QtSerialPort::setDtr(bool on) {
    dtr_ = on;
    return std::nullopt;
}

SerialPort::Result QtSerialPort::setBufferSizes(int inBytes, int outBytes) {
    if (inBytes < 0 || outBytes < 0) return kBadPortSetting;
    inBufferSize_ = inBytes;
    outBufferSize_ = outBytes;  // QSerialPort has no bound for what is written
    return std::nullopt;
}

SerialPort::Result QtSerialPort::open() {
    if (port_.isOpen()) return kPortAlreadyOpen;
    if (device_.isEmpty() || !QFileInfo::exists(device_)) return kNoSuchPort;
    port_.setPortName(device_);
    port_.setReadBufferSize(inBufferSize_);
    port_.clearError();
    events_.opened();
    if (!port_.open(QIODevice::ReadWrite)) {
        if (port_.error() == QSerialPort::DeviceNotFoundError) return kNoSuchPort;
        return qtError();
    }
    // Set on the open device and checked one by one: QSerialPort opens even
    // when the device refuses a setting it was given beforehand, and a
    // pseudo-terminal takes only 8 data bits without parity.
    if (!port_.setBaudRate(baud_) || !port_.setDataBits(dataBits_) || !port_.setParity(parity_) ||
        !port_.setStopBits(stopBits_) || !port_.setFlowControl(QSerialPort::NoFlowControl)) {
        SerialError e = qtError();
        close();
        return e;
    }
    if (!port_.setDataTerminalReady(dtr_)) {
        // A pseudo-terminal has no modem lines ("Inappropriate ioctl for
        // device"); that is no reason to refuse the line.
        if (port_.error() != QSerialPort::UnsupportedOperationError) {
            SerialError e = qtError();
            close();
            return e;
        }
    }
    port_.clearError();
    hangupWatch_ = std::make_unique<QSocketNotifier>(port_.handle(), QSocketNotifier::Exception);
    connect(hangupWatch_.get(), &QSocketNotifier::activated, this, &QtSerialPort::onHangupWatch);
    return std::nullopt;
}

void QtSerialPort::close() {
    events_.closed();
    hangupWatch_.reset();  // lets go of the descriptor before it is closed
    if (port_.isOpen()) port_.close();
}

SerialPort::Result QtSerialPort::discardBuffers() {
    if (!port_.isOpen()) return kPortNotOpen;
    port_.clearError();
    if (!port_.clear(QSerialPort::AllDirections)) return failed();
    return std::nullopt;
}

SerialPort::Result QtSerialPort::write(const std::string& bytes) {
    if (!port_.isOpen()) return kPortNotOpen;
    port_.clearError();
    const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (port_.write(data) != data.size()) return failed();
    // Written now, not when the event loop next runs: the module's reply
    // time counts from the frame, and a nested box could hold it back.
    port_.flush();
    if (port_.error() == QSerialPort::WriteError || port_.error() == QSerialPort::ResourceError)
        return failed();
    return std::nullopt;
}

SerialError QtSerialPort::failed() {
    const SerialError e = qtError();
    // A step can meet the hang-up before its notice is served: the line is
    // closed now, so the caller knows its failure for the loss it is, and
    // the line error follows as it would have.
    if (lineGone()) {
        close();
        events_.closedGone();
    }
    return e;
}

std::string QtSerialPort::readAll() {
    if (!port_.isOpen()) return {};
    const QByteArray data = port_.readAll();
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

void QtSerialPort::onReadyRead() {
    // Never run the logic here: QSerialPort emits no further readyRead while
    // this slot runs.
    events_.postReceive();
}

void QtSerialPort::deliverReceive() {
    // What a discard already dropped is no arrival.
    if (!port_.isOpen() || port_.bytesAvailable() <= 0 || !handler_) return;
    handler_(CommEvent::Receive);
    // Bytes that came while the handler ran (a box open inside it) may have
    // been announced to nobody: look again.
    if (port_.isOpen() && port_.bytesAvailable() > 0) onReadyRead();
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError && error != QSerialPort::ResourceError)
        return;
    // A device that vanished floods these while isOpen() stays true: act on
    // the first, outside QSerialPort's own signal. But an error is no proof:
    // Qt 6.4 reports a read error (EAGAIN) when a discard has dropped bytes
    // it had already been told of, and a poller asking back to back meets
    // that within seconds. Only the line itself says it is gone.
    if (!port_.isOpen() || events_.goneQueued()) return;
    if (lineGone()) {
        queueDeviceGone();
        return;
    }
    port_.clearError();
}

bool QtSerialPort::hungUp() const {
    if (!port_.isOpen()) return false;
    pollfd watched{static_cast<int>(port_.handle()), 0, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool QtSerialPort::lineGone() const { return hungUp() || !QFileInfo::exists(device_); }

void QtSerialPort::onHangupWatch() {
    if (!hungUp()) return;
    // The hang-up stays signalled until the port is closed: stop listening
    // now, so the event loop does not spin until the queued close runs.
    hangupWatch_->setEnabled(false);
    queueDeviceGone();
}

void QtSerialPort::queueDeviceGone() {
    if (port_.isOpen()) events_.postGone();
}

void QtSerialPort::deviceGone() {
    close();
    if (handler_) handler_(CommEvent::Dcb);
}

}  // namespace dervix
