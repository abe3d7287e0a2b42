#include "platform/qt/posix/PosixSerialPort.h"

#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/qt/posix/CustomLineSpeed.h"

namespace dervix {

namespace {

using namespace SerialFailure;
// A frame is a handful of bytes and every request discards what is still
// to go, so a line that takes nothing for this long is not taking anything.
constexpr int kWriteWaitMs = 1000;

SerialError SystemError(int number, int error) {
    return {number, std::strerror(error)};
}

// The words operators have always met for a port another program holds.
const SerialError kLocked{Held, "Permission error while locking the device"};

tcflag_t SizeFlag(int dataBits) {
    switch (dataBits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

// The lock file other serial programs look for ("LCK..ttyUSB0"), in the
// first lock folder this user may write, named after the device node itself
// so that any name of it finds the same lock. Held by another: nullopt; no
// folder to hold one in is no reason to refuse the line: an empty lock.
std::optional<std::unique_ptr<QLockFile>> LockDevice(const std::string& device) {
    const QString node = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
    QString name = node.startsWith(QLatin1String("/dev/")) ? node.mid(5) : node.mid(1);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp"}) {
        if (!QFileInfo(QString::fromLatin1(folder)).isWritable()) continue;
        auto lock = std::make_unique<QLockFile>(QString::fromLatin1(folder) + "/LCK.." + name);
        lock->setStaleLockTime(0);  // stale only when its program has ended
        if (lock->tryLock(0)) return lock;
        if (lock->error() == QLockFile::LockFailedError) return std::nullopt;
        return std::unique_ptr<QLockFile>();
    }
    return std::unique_ptr<QLockFile>();
}

// The speeds termios names; any other is set through the kernel's own call.
bool SetStandardSpeed(termios& t, int baud) {
    static constexpr std::pair<int, speed_t> kSpeeds[] = {
        {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
        {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
        {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& [rate, code] : kSpeeds)
        if (rate == baud) return ::cfsetspeed(&t, code) == 0;
    return false;
}

}  // namespace

PosixSerialPort::PosixSerialPort(QObject* parent) : QObject(parent) {}

PosixSerialPort::~PosixSerialPort() { close(); }

SerialPort::Result PosixSerialPort::setDevice(const std::string& devicePath) {
    if (isOpen()) return kPortAlreadyOpen;
    device_ = devicePath;
    return std::nullopt;
}

SerialPort::Result PosixSerialPort::setLineSettings(const LineSettings& s) {
    if (!LineSettingsExpressible(s)) return kBadPortSetting;
    line_ = s;
    return std::nullopt;
}

SerialPort::Result PosixSerialPort::setDtr(bool on) {
    dtr_ = on;
    return std::nullopt;
}

SerialPort::Result PosixSerialPort::setBufferSizes(int inBytes, int outBytes) {
    // The kernel keeps its own buffers; what is read waits in ours.
    if (inBytes < 0 || outBytes < 0) return kBadPortSetting;
    return std::nullopt;
}

SerialPort::Result PosixSerialPort::open() {
    if (isOpen()) return kPortAlreadyOpen;
    struct stat node {};
    if (device_.empty() || ::stat(device_.c_str(), &node) != 0) return kNoSuchPort;
    auto lock = LockDevice(device_);
    if (!lock) return kLocked;
    const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENXIO || error == ENODEV) return kNoSuchPort;
        return SystemError(error == EACCES || error == EPERM || error == EBUSY ? Held : OpenFailed, error);
    }
    // Another program on the same line would take the module's replies.
    // Beside the lock file, for the programs that look for one, the
    // descriptor's own lock, which a crash cannot leave behind; exclusive
    // mode keeps out those that ask for neither.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return kLocked;
    }
    ::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    lock_ = std::move(*lock);
    if (auto e = configure()) {
        close();
        return e;
    }
    events_.opened();
    readable_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(readable_.get(), &QSocketNotifier::activated, this, &PosixSerialPort::onReadable);
    return std::nullopt;
}

SerialPort::Result PosixSerialPort::configure() {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return SystemError(OpenFailed, errno);
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | SizeFlag(line_.dataBits);
    if (line_.parity != 'N') t.c_cflag |= PARENB;
    if (line_.parity == 'O' || line_.parity == 'M') t.c_cflag |= PARODD;
    if (line_.parity == 'M' || line_.parity == 'S') t.c_cflag |= CMSPAR;
    if (line_.stopBits != 1) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (line_.parity != 'N') t.c_iflag |= INPCK;
    // Wait for a byte (the descriptor does not block): a read of nothing
    // then means the line has hung up, never just "no data yet".
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    const bool standardSpeed = SetStandardSpeed(t, line_.baud);
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return SystemError(SettingRefused, errno);
    if (!standardSpeed && !SetCustomSpeed(fd_, line_.baud)) return SystemError(SettingRefused, errno);
    // tcsetattr succeeds when any one setting took; read back what the
    // device made of the frame format (a pseudo-terminal keeps only 8 data
    // bits without parity).
    termios now{};
    if (::tcgetattr(fd_, &now) != 0) return SystemError(SettingRefused, errno);
    constexpr tcflag_t kFormat = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    if ((now.c_cflag & kFormat) != (t.c_cflag & kFormat)) return SystemError(SettingRefused, EINVAL);
    int dtr = TIOCM_DTR;
    // A pseudo-terminal has no modem lines ("Inappropriate ioctl for
    // device"); that is no reason to refuse the line.
    if (::ioctl(fd_, dtr_ ? TIOCMBIS : TIOCMBIC, &dtr) != 0 && errno != ENOTTY && errno != EINVAL)
        return SystemError(SettingRefused, errno);
    return std::nullopt;
}

void PosixSerialPort::close() {
    events_.closed();
    readable_.reset();  // lets go of the descriptor before it is closed
    received_.clear();
    if (fd_ >= 0) {
        // The terminal keeps exclusive mode while any other descriptor of it
        // is open (the simulator's own end): our next open would be refused.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
    fd_ = -1;
    lock_.reset();
}

SerialPort::Result PosixSerialPort::discardBuffers() {
    if (!isOpen()) return kPortNotOpen;
    received_.clear();
    if (::tcflush(fd_, TCIOFLUSH) != 0) return failed(OpenFailed, errno);
    resumeReading();
    return std::nullopt;
}

SerialPort::Result PosixSerialPort::write(const std::string& bytes) {
    if (!isOpen()) return kPortNotOpen;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return failed(WriteFailed, errno);
        pollfd writable{fd_, POLLOUT, 0};
        const int ready = ::poll(&writable, 1, kWriteWaitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return failed(WriteFailed, ready == 0 ? ETIMEDOUT : errno);
        if (writable.revents & (POLLHUP | POLLERR | POLLNVAL)) return failed(WriteFailed, EIO);
    }
    return std::nullopt;
}

std::string PosixSerialPort::readAll() {
    if (!isOpen()) return {};
    // What came since the last notice is taken too; a line found gone here
    // is told by the notifier, which sees the same.
    readWaiting();
    std::string taken = std::exchange(received_, std::string());
    resumeReading();
    return taken;
}

void PosixSerialPort::onReadable() {
    if (!readWaiting()) {
        // Hung up: the notifier would fire for ever until the line is closed.
        readable_->setEnabled(false);
        if (!received_.empty()) events_.postReceive();
        events_.postGone();
        return;
    }
    if (received_.size() >= kMaxWaiting) readable_->setEnabled(false);
    // Never run the logic here: it may open a box and sit in it for minutes.
    if (!received_.empty()) events_.postReceive();
}

bool PosixSerialPort::readWaiting() {
    char chunk[4096];
    while (received_.size() < kMaxWaiting) {
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            received_.append(chunk, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return true;
        // End of file or EIO: with at least one byte asked for, a terminal
        // says so only once it has hung up.
        return false;
    }
    return true;
}

void PosixSerialPort::resumeReading() {
    if (readable_ && !readable_->isEnabled() && !events_.goneQueued()) readable_->setEnabled(true);
}

void PosixSerialPort::deliverReceive() {
    // What a discard already dropped is no arrival.
    if (!isOpen() || received_.empty() || !handler_) return;
    handler_(CommEvent::Receive);
    // Bytes read while the handler ran but not taken by it are announced again.
    if (isOpen() && !received_.empty()) events_.postReceive();
}

SerialError PosixSerialPort::failed(int number, int error) {
    const SerialError e = SystemError(number, error);
    // A step can meet the hang-up before its notice is served: the line is
    // closed now, so the caller knows its failure for the loss it is, and
    // the line error follows as it would have.
    if (lineGone()) {
        close();
        events_.closedGone();
    }
    return e;
}

bool PosixSerialPort::lineGone() const {
    if (!isOpen()) return false;
    pollfd watched{fd_, 0, 0};
    if (::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return true;
    struct stat node {};
    return ::stat(device_.c_str(), &node) != 0;
}

void PosixSerialPort::deviceGone() {
    close();
    if (handler_) handler_(CommEvent::Dcb);
}

}  // namespace dervix
