#pragma once
// The serial line on QSerialPort.
//
// Error numbers, stable so that an operator's report can be matched:
//   8002 "Invalid port number"  the device does not exist
//   8005 "Port already open"    open() while this port is open, or a
//                               setting that needs the port closed
//   8018 "Operation valid only when the port is open"
//                               discard or write while closed (also after
//                               the device disappeared and was closed)
//   380  "Invalid property value"
//                               line settings QSerialPort cannot express
//   8100 + QSerialPort::SerialPortError, with QSerialPort's errorString():
//                               every other failure (8102 permission or
//                               device locked by another program, 8103 open
//                               failed, 8104 write failed, 8107 a setting the
//                               device refuses, e.g. parity on a pseudo-terminal)
//
// Notifications: Receive (2) once per arrival, from a queued call, never from
// inside QSerialPort's own signal. A device that disappears is closed and
// reported once as Dcb (1011, "Error retrieving DCB"). That is noticed from
// the descriptor's own hang-up or the device node gone, never from
// QSerialPort's errors alone: Qt 6.4 floods read errors at a hang-up but
// also reports one for a discard that raced an arrival, and Qt 6.8 reports
// nothing at a hang-up at all. Qt 6
// reports no framing, parity, overrun or modem-line events, so those codes
// never occur.
#include <QObject>
#include <QSerialPort>
#include <functional>
#include <memory>

#include "platform/SerialPort.h"
#include "platform/qt/LineEvents.h"

class QSocketNotifier;

namespace dervix {

class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT

public:
    static constexpr int kErrorBase = 8100;

    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    Result setDevice(const std::string& devicePath) override;
    Result setLineSettings(const LineSettings& settings) override;
    Result setNoHandshaking() override;
    Result setDtr(bool on) override;
    Result setBufferSizes(int inBytes, int outBytes) override;
    Result open() override;
    bool isOpen() const override { return port_.isOpen(); }
    void close() override;

    Result discardBuffers() override;
    Result write(const std::string& bytes) override;
    std::string readAll() override;

    void setNotificationHandler(std::function<void(int code)> handler) override { handler_ = std::move(handler); }

private:
    SerialError qtError() const;
    void onReadyRead();
    void deliverReceive();
    // The error of a failed step; closes the line when its device has gone.
    SerialError failed();
    void onError(QSerialPort::SerialPortError error);
    void onHangupWatch();
    bool hungUp() const;
    // Hung up, or its device node gone: what a lost device looks like.
    bool lineGone() const;
    void queueDeviceGone();
    void deviceGone();

    QSerialPort port_;
    // Watches the open descriptor for a hang-up (poll's POLLHUP/POLLERR, which
    // the event loop reports to an exception notifier); idle, it costs nothing.
    std::unique_ptr<QSocketNotifier> hangupWatch_;
    std::function<void(int)> handler_;

    // Recorded and applied on open, as the line has always been set up.
    QString device_;
    qint32 baud_ = 19200;
    QSerialPort::DataBits dataBits_ = QSerialPort::Data8;
    QSerialPort::Parity parity_ = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits_ = QSerialPort::OneStop;
    bool dtr_ = true;
    qint64 inBufferSize_ = 0;
    int outBufferSize_ = 0;

    LineEvents events_{this, [this] { deliverReceive(); }, [this] { deviceGone(); }};
};

}  // namespace dervix
