#include "platform/qt/win/WinSerialPort.h"

#include "platform/win/WinApi.h"

#include <QWinEventNotifier>

#include "platform/win/WinText.h"

namespace dervix {

namespace {


using namespace SerialFailure;

// A read returns this long after the last byte of a burst: the bytes of one
// burst come in one notification, late by no more than this. A reply may
// still come in pieces (a USB adapter passes its bytes on every 16 ms or
// so); the receive path puts them together.
constexpr DWORD kGapMs = 5;

SerialError SystemError(int number, DWORD code) { return {number, win::ErrorText(code)}; }

// The ways drivers say that the device itself has gone (a USB adapter pulled
// out, the far end of a virtual port hung up); anything else, a read cut
// short by a line error or a driver's own cancel, leaves the line as it was.
bool MeansRemoval(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_HANDLE:
        case ERROR_NOT_READY:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BROKEN_PIPE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED: return true;
        default: return false;
    }
}

// Reads that fail, one after the other without a byte between, before the
// line counts as gone whatever the errors say: a healthy line never fails
// that way, and a driver that keeps failing must not keep the program busy.
constexpr int kFailuresInARow = 16;

// "COM3", "com3" and "\\.\COM3" name the same port; CreateFileW wants the
// last form (COM10 and above have no other).
std::wstring FileName(const std::string& devicePath) {
    if (devicePath.empty()) return {};
    const std::wstring name = win::Widen(devicePath);
    return name.rfind(L"\\\\.\\", 0) == 0 ? name : L"\\\\.\\" + name;
}

}  // namespace

struct WinSerialPort::Io {
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED read{};
    OVERLAPPED write{};
    bool reading = false;  // read is pending, or done and not yet collected
    char buffer[4096];

    Io() {
        read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Io() {
        CloseHandle(read.hEvent);
        CloseHandle(write.hEvent);
    }
    Io(const Io&) = delete;
    Io& operator=(const Io&) = delete;

    // Waits for the pending read to end and forgets what it brought.
    void abandonRead() {
        if (!reading) return;
        CancelIoEx(port, &read);
        DWORD n = 0;
        GetOverlappedResult(port, &read, &n, TRUE);
        reading = false;
    }
};

WinSerialPort::WinSerialPort(QObject* parent) : QObject(parent), io_(std::make_unique<Io>()) {}

WinSerialPort::~WinSerialPort() { close(); }

bool WinSerialPort::isOpen() const { return io_->port != INVALID_HANDLE_VALUE; }

SerialPort::Result WinSerialPort::setDevice(const std::string& devicePath) {
    if (isOpen()) return kPortAlreadyOpen;
    device_ = devicePath;
    return std::nullopt;
}

SerialPort::Result WinSerialPort::setLineSettings(const LineSettings& s) {
    if (!LineSettingsExpressible(s)) return kBadPortSetting;
    line_ = s;
    return std::nullopt;
}

SerialPort::Result WinSerialPort::setDtr(bool on) {
    dtr_ = on;
    return std::nullopt;
}

SerialPort::Result WinSerialPort::setBufferSizes(int inBytes, int outBytes) {
    if (inBytes < 0 || outBytes < 0) return kBadPortSetting;
    inBufferSize_ = inBytes;
    outBufferSize_ = outBytes;
    return std::nullopt;
}

SerialPort::Result WinSerialPort::open() {
    if (isOpen()) return kPortAlreadyOpen;
    const std::wstring name = FileName(device_);
    if (name.empty()) return kNoSuchPort;
    HANDLE port = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        switch (e) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_INVALID_NAME:
            case ERROR_BAD_PATHNAME: return kNoSuchPort;
            // Another program has it: Windows lends a port to one at a time.
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION: return SystemError(Held, e);
            default: return SystemError(OpenFailed, e);
        }
    }
    io_->port = port;
    events_.opened();
    received_.clear();
    failuresInARow_ = 0;
    // Only a recommendation to the driver, which is free to keep its own.
    if (inBufferSize_ > 0 && outBufferSize_ > 0)
        SetupComm(port, static_cast<DWORD>(inBufferSize_), static_cast<DWORD>(outBufferSize_));

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool set = GetCommState(port, &dcb);
    dcb.BaudRate = static_cast<DWORD>(line_.baud);
    dcb.ByteSize = static_cast<BYTE>(line_.dataBits);
    switch (line_.parity) {
        case 'E': dcb.Parity = EVENPARITY; break;
        case 'O': dcb.Parity = ODDPARITY; break;
        case 'M': dcb.Parity = MARKPARITY; break;
        case 'S': dcb.Parity = SPACEPARITY; break;
        default: dcb.Parity = NOPARITY; break;
    }
    dcb.StopBits = line_.stopBits == 2 ? TWOSTOPBITS : line_.stopBits == 15 ? ONE5STOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = line_.parity != 'N';
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fDtrControl = dtr_ ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;  // no handshaking, and the line has never raised it
    // Left on (by another program), a framing or parity error would abort
    // every read until cleared, which would look like the device going away.
    dcb.fAbortOnError = FALSE;
    set = set && SetCommState(port, &dcb);
    // A write can wait only on a stuck driver: then give up rather than hang.
    COMMTIMEOUTS timeouts{kGapMs, 0, 0, 11000 / dcb.BaudRate + 1, 1000};
    set = set && SetCommTimeouts(port, &timeouts);
    if (!set) {
        const DWORD e = GetLastError();
        close();
        return SystemError(SettingRefused, e);
    }

    readDone_ = std::make_unique<QWinEventNotifier>(io_->read.hEvent);
    connect(readDone_.get(), &QWinEventNotifier::activated, this, [this] { collectRead(); });
    if (!startRead()) {
        const DWORD e = GetLastError();
        close();
        return SystemError(OpenFailed, e);
    }
    return std::nullopt;
}

void WinSerialPort::close() {
    events_.closed();
    readDone_.reset();
    received_.clear();
    if (!isOpen()) return;
    io_->abandonRead();
    CloseHandle(io_->port);
    io_->port = INVALID_HANDLE_VALUE;
}

bool WinSerialPort::startRead() {
    DWORD n = 0;
    if (ReadFile(io_->port, io_->buffer, sizeof io_->buffer, &n, &io_->read)) {
        // Done at once: collected like any other, from the event loop.
        SetEvent(io_->read.hEvent);
    } else if (GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    io_->reading = true;
    return true;
}

bool WinSerialPort::deviceRemoved(unsigned long error) {
    if (MeansRemoval(error)) return true;
    // Asked, the line of a device that is gone fails too; asking also clears
    // a line error that may have cut the read short.
    DWORD errors = 0;
    COMSTAT status{};
    return !ClearCommError(io_->port, &errors, &status) && MeansRemoval(GetLastError());
}

void WinSerialPort::collectRead() {
    if (!io_->reading) return;
    DWORD n = 0;
    const DWORD error = GetOverlappedResult(io_->port, &io_->read, &n, FALSE) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return;  // a late wake-up for an earlier read
    io_->reading = false;
    if (n > 0) {
        received_.append(io_->buffer, n);
        events_.postReceive();
        failuresInARow_ = 0;
    }
    if (error != ERROR_SUCCESS) ++failuresInARow_;
    // A read that ended without a byte, or failed for no removal, is simply
    // issued again.
    const bool removed = error != ERROR_SUCCESS && (failuresInARow_ >= kFailuresInARow || deviceRemoved(error));
    if (!removed && startRead()) return;
    lost();
}

void WinSerialPort::lost() {
    // The read's event stays signalled: stop listening, or the loop would
    // spin until the queued close runs.
    if (readDone_) readDone_->setEnabled(false);
    queueDeviceGone();
}

SerialPort::Result WinSerialPort::discardBuffers() {
    if (!isOpen()) return kPortNotOpen;
    // The pending read may hold bytes already; they go with the rest.
    io_->abandonRead();
    received_.clear();
    const bool purged = PurgeComm(io_->port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    const DWORD e = purged ? ERROR_SUCCESS : GetLastError();
    // Without a pending read the line would go deaf for good.
    if (!startRead()) {
        const DWORD readError = GetLastError();
        goneNow();
        return SystemError(DeviceFailed, readError);
    }
    if (purged) return std::nullopt;
    // A refused discard fails this request alone.
    if (deviceRemoved(e)) goneNow();
    return SystemError(DeviceFailed, e);
}

void WinSerialPort::goneNow() {
    // Met by a discard or a write before the read's notice: the line is
    // closed at once, so the caller knows its failure for the loss it is,
    // and the line error follows as it would have: one fault, one report.
    close();
    events_.closedGone();
}

SerialPort::Result WinSerialPort::write(const std::string& bytes) {
    if (!isOpen()) return kPortNotOpen;
    const DWORD size = static_cast<DWORD>(bytes.size());
    DWORD n = 0;
    // Waited for here: the module's reply time counts from the frame.
    BOOL ok = WriteFile(io_->port, bytes.data(), size, &n, &io_->write);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(io_->port, &io_->write, &n, TRUE);
    if (!ok) {
        const DWORD e = GetLastError();
        // A frame the driver would not take in time fails this request only;
        // the line stays open for the next.
        if (deviceRemoved(e)) goneNow();
        return SystemError(WriteFailed, e);
    }
    if (n != size) return SystemError(WriteFailed, ERROR_TIMEOUT);
    return std::nullopt;
}

std::string WinSerialPort::readAll() {
    collectRead();  // a read that has ended counts as waiting, announced or not
    std::string bytes;
    bytes.swap(received_);
    return bytes;
}

void WinSerialPort::deliverReceive() {
    // What a discard or an earlier readAll() took is no arrival.
    if (!isOpen() || received_.empty() || !handler_) return;
    handler_(CommEvent::Receive);
    // The handler may have left bytes (a box opened inside it): look again.
    if (isOpen() && !received_.empty()) events_.postReceive();
}

void WinSerialPort::queueDeviceGone() {
    if (isOpen()) events_.postGone();
}

void WinSerialPort::deviceGone() {
    close();
    if (handler_) handler_(CommEvent::Dcb);
}

}  // namespace dervix
