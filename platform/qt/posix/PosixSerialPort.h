#pragma once
// The serial line on its own descriptor: termios for the settings, a socket
// notifier of our own for arrivals, as the Windows adapter owns its handle.
// Qt's serial port was given up here: after many discards racing arrivals
// (a poller asking back to back) Qt 6.4's stopped polling the descriptor for
// input while the port stayed open, and nothing was read again.
//
// Error numbers (platform/SerialPort.h): the common ones, and with the
// system's own text 8102 for a device another program holds (its lock file
// or its descriptor's lock) or that may not be opened, 8103 for one that
// cannot be opened otherwise, 8104 for a write that fails or that the line
// takes nothing of for a second, 8107 for a line setting the device refuses
// (parity on a pseudo-terminal).
//
// Notifications: Receive (2) once per arrival, from a queued call, never from
// inside write() or readAll(). Arrivals are read as they come, so a discard
// drops what is still in the kernel and what was read and not yet taken. A
// device that disappears is closed and reported once as Dcb (1011, "Error
// retrieving DCB"): a read that finds the line hung up or failing, or a
// write or discard that fails on a line that is hung up or whose device node
// is gone. No framing, parity, overrun or modem-line events are watched, so
// those codes never occur.
#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "platform/SerialPort.h"
#include "platform/qt/LineEvents.h"

class QLockFile;
class QSocketNotifier;

namespace dervix {

class PosixSerialPort : public QObject, public SerialPort {
    Q_OBJECT

public:
    // Read and not yet taken: past this the line is left in the kernel's
    // hands (which drops what overflows) until readAll() or a discard.
    static constexpr std::size_t kMaxWaiting = 64 * 1024;

    explicit PosixSerialPort(QObject* parent = nullptr);
    ~PosixSerialPort() override;

    Result setDevice(const std::string& devicePath) override;
    Result setLineSettings(const LineSettings& settings) override;
    Result setNoHandshaking() override { return std::nullopt; }
    Result setDtr(bool on) override;
    Result setBufferSizes(int inBytes, int outBytes) override;
    Result open() override;
    bool isOpen() const override { return fd_ >= 0; }
    void close() override;

    Result discardBuffers() override;
    Result write(const std::string& bytes) override;
    std::string readAll() override;

    void setNotificationHandler(std::function<void(int code)> handler) override { handler_ = std::move(handler); }

private:
    Result configure();
    void onReadable();
    // Reads what the descriptor holds now; false when the line can no
    // longer be read (hung up, or its device gone).
    bool readWaiting();
    void resumeReading();
    void deliverReceive();
    // The error of a failed step; closes the line when its device has gone.
    SerialError failed(int number, int error);
    bool lineGone() const;
    void deviceGone();

    int fd_ = -1;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QSocketNotifier> readable_;
    std::function<void(int)> handler_;
    std::string received_;  // read, not yet taken by readAll()

    // Recorded and applied on open, as the line has always been set up.
    std::string device_;
    LineSettings line_;
    bool dtr_ = true;

    LineEvents events_{this, [this] { deliverReceive(); }, [this] { deviceGone(); }};
};

}  // namespace dervix
