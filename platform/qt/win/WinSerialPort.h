#pragma once
// The serial line on the Win32 communications calls.
//
// Error numbers (platform/SerialPort.h): the common ones, and with the
// system's own text of the Windows error 8102 for a port another program
// holds or that access is denied to, 8103 for one that cannot be opened
// otherwise, 8104 for a write that fails or times out, 8106 for a discard the
// device fails, 8107 for a line setting the driver refuses.
//
// The port is opened for overlapped I/O and a read is always pending; its
// event wakes the Qt event loop (QWinEventNotifier), so an idle line costs
// nothing. Receive (2) is delivered once per arrival from a queued call,
// never from inside write() or readAll(). Only an error that means the device
// went away (a pulled USB adapter), from a read, a write or a discard or from
// the line when asked after a failed read, closes the port (a write or a
// discard closes it before it returns its failure), and that is reported once
// as Dcb (1011); a read that ends empty or fails otherwise is issued again,
// and a write or discard that fails otherwise fails that request alone. The Win32 line-error and modem-line events are not watched,
// so their codes never occur.
#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "platform/SerialPort.h"
#include "platform/qt/LineEvents.h"

class QWinEventNotifier;

namespace dervix {

class WinSerialPort : public QObject, public SerialPort {
    Q_OBJECT

public:

    explicit WinSerialPort(QObject* parent = nullptr);
    ~WinSerialPort() override;

    Result setDevice(const std::string& devicePath) override;
    Result setLineSettings(const LineSettings& settings) override;
    Result setNoHandshaking() override { return std::nullopt; }
    Result setDtr(bool on) override;
    Result setBufferSizes(int inBytes, int outBytes) override;
    Result open() override;
    bool isOpen() const override;
    void close() override;

    Result discardBuffers() override;
    Result write(const std::string& bytes) override;
    std::string readAll() override;

    void setNotificationHandler(std::function<void(int code)> handler) override { handler_ = std::move(handler); }

private:
    struct Io;  // the Win32 handles and the pending read, out of this header

    bool startRead();
    void collectRead();
    // Whether error, or the line when asked, says the device has gone.
    bool deviceRemoved(unsigned long error);
    // No read can be pending any more: the device is given up.
    void lost();
    // The same, found by a discard or write: the port is closed at once.
    void goneNow();
    void deliverReceive();
    void queueDeviceGone();
    void deviceGone();

    std::unique_ptr<Io> io_;
    std::unique_ptr<QWinEventNotifier> readDone_;
    std::function<void(int)> handler_;

    // Recorded and applied on open, as the line has always been set up.
    std::string device_;
    LineSettings line_;
    bool dtr_ = true;
    int inBufferSize_ = 0;
    int outBufferSize_ = 0;

    std::string received_;  // arrived, not yet taken by readAll()
    int failuresInARow_ = 0;
    LineEvents events_{this, [this] { deliverReceive(); }, [this] { deviceGone(); }};
};

}  // namespace dervix
