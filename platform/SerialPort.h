#pragma once
// The serial line as the device link needs it. Every step that can fail
// reports a number and a text, which the callers put into operator messages.
#include <functional>
#include <optional>
#include <string>

namespace dervix {

struct SerialError {
    int number = 0;
    std::string description;
};

// The numbers of an operator's report, the same on every system where they
// mean the same. What every serial line reports alike, whatever lies beneath
// it, in these words: a discard or write while closed (or after the device
// went); an open while open, or a device changed while open; no such device,
// or none set; line settings that no serial line takes.
inline const SerialError kPortNotOpen{8018, "Operation valid only when the port is open"};
inline const SerialError kPortAlreadyOpen{8005, "Port already open"};
inline const SerialError kNoSuchPort{8002, "Invalid port number"};
inline const SerialError kBadPortSetting{380, "Invalid property value"};
// A failed call of the system's own, with the system's own words:
namespace SerialFailure {
constexpr int Held = 8102;            // held by another program, or access denied
constexpr int OpenFailed = 8103;      // not opened for another reason (or a discard failed)
constexpr int WriteFailed = 8104;     // writing failed, or the line took nothing in time
constexpr int DeviceFailed = 8106;    // the device failed a request it was given
constexpr int SettingRefused = 8107;  // the device refused a line setting
}  // namespace SerialFailure

struct LineSettings {
    int baud = 19200;
    char parity = 'N';   // N, E, O, M, S
    int dataBits = 8;
    int stopBits = 1;    // 1 or 2 (1.5 is stored as 15)
};

// What a serial line can be set to at all, whatever the device then takes.
inline bool LineSettingsExpressible(const LineSettings& s) {
    return s.baud > 0 && s.dataBits >= 5 && s.dataBits <= 8 &&
           (s.parity == 'N' || s.parity == 'E' || s.parity == 'O' || s.parity == 'M' || s.parity == 'S') &&
           (s.stopBits == 1 || s.stopBits == 15 || s.stopBits == 2);
}

// Notification codes delivered to the receive path. The numbers are the ones
// the operator's log has always shown, so they stay as they are.
namespace CommEvent {
constexpr int Send = 1;
constexpr int Receive = 2;
constexpr int CtsChange = 3;
constexpr int DsrChange = 4;
constexpr int CdChange = 5;
constexpr int Ring = 6;
constexpr int Eof = 7;
constexpr int Break = 1001;
constexpr int CtsTimeout = 1002;
constexpr int DsrTimeout = 1003;
constexpr int Frame = 1004;
constexpr int Overrun = 1006;
constexpr int CdTimeout = 1007;
constexpr int RxOver = 1008;
constexpr int RxParity = 1009;
constexpr int TxFull = 1010;
constexpr int Dcb = 1011;
}  // namespace CommEvent

class SerialPort {
public:
    using Result = std::optional<SerialError>;  // empty means success
    virtual ~SerialPort() = default;

    virtual Result setDevice(const std::string& devicePath) = 0;
    virtual Result setLineSettings(const LineSettings& settings) = 0;
    virtual Result setNoHandshaking() = 0;
    virtual Result setDtr(bool on) = 0;
    virtual Result setBufferSizes(int inBytes, int outBytes) = 0;
    virtual Result open() = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    // A discard or write that fails because the device has gone closes the
    // port; the line error (Dcb) follows as a notification.
    // Drops what was received but not read, and what was written but not sent.
    virtual Result discardBuffers() = 0;
    virtual Result write(const std::string& bytes) = 0;
    // Returns and removes every byte waiting (each byte one char, 0..255).
    virtual std::string readAll() = 0;

    // Called once per notification; never from inside write() or readAll().
    virtual void setNotificationHandler(std::function<void(int code)> handler) = 0;
};

}  // namespace dervix
