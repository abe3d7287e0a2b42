#include "simulator/qt/posix/PtySimulator.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace dervix::sim {

qint64 MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

PtySimulator::PtySimulator(QObject* parent) : QObject(parent), timer_(this) {
    timer_.setSingleShot(true);
    // Reply delays are a few milliseconds; a coarse timer would be off by more.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &PtySimulator::sendDue);
}

PtySimulator::~PtySimulator() { closeFds(); }

bool PtySimulator::open() {
    closeFds();
    error_.clear();
    auto fail = [this](const char* step) {
        error_ = QStringLiteral("%1: %2").arg(QLatin1String(step), QString::fromLocal8Bit(std::strerror(errno)));
        closeFds();
        return false;
    };
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0) return fail("posix_openpt");
    if (grantpt(master_) != 0) return fail("grantpt");
    if (unlockpt(master_) != 0) return fail("unlockpt");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname");
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) return fail("open slave");
    // Raw from the start: no echo of frames back to the program, no CR/LF
    // translation, every byte passed as it is.
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) return fail("tcgetattr");
    cfmakeraw(&tio);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) return fail("tcsetattr");
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    slavePath_ = QString::fromLocal8Bit(name);

    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PtySimulator::onReadable);
    return true;
}

void PtySimulator::closeFds() {
    timer_.stop();
    due_.clear();
    if (notifier_) {
        // May run inside the notifier's own signal (a slot hanging up).
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
}

void PtySimulator::hangUp() {
    // The path stays known so a caller can still tell which device vanished.
    closeFds();
}

void PtySimulator::onReadable() {
    char buffer[4096];
    while (master_ >= 0) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            const qint64 now = MonotonicNs();
            if (!module_.midFrame()) frameStartNs_ = now;
            const FeedResult result = module_.feed(std::string(buffer, static_cast<std::size_t>(n)));
            for (const Emission& e : result.emissions)
                due_.emplace(now + static_cast<qint64>(e.delayMs) * 1'000'000, e.bytes);
            for (const std::string& frame : result.frames)
                emit frameReceived(QByteArray(frame.data(), static_cast<qsizetype>(frame.size())), frameStartNs_);
            // What is left unfinished began within this read.
            if (module_.midFrame()) frameStartNs_ = now;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        // With our own slave descriptor open this does not happen; should it,
        // stop listening rather than wake up for ever.
        if (notifier_) notifier_->setEnabled(false);
        break;
    }
    armTimer();
}

void PtySimulator::sendNow(const std::string& bytes) {
    if (master_ < 0 || bytes.empty()) return;
    due_.emplace(MonotonicNs(), bytes);
    sendDue();
}

void PtySimulator::armTimer() {
    if (due_.empty()) {
        timer_.stop();
        return;
    }
    const qint64 waitNs = due_.begin()->first - MonotonicNs();
    // Round up: firing a little late is a slow module, firing early is not.
    const int waitMs = waitNs <= 0 ? 0 : static_cast<int>((waitNs + 999'999) / 1'000'000);
    timer_.start(waitMs);
}

void PtySimulator::sendDue() {
    const qint64 now = MonotonicNs();
    while (!due_.empty() && due_.begin()->first <= now) {
        const std::string bytes = std::move(due_.begin()->second);
        due_.erase(due_.begin());
        if (master_ < 0) return;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                // The terminal's input queue is full: nobody reads. A real
                // line loses the bytes the same way.
                dropped_ += bytes.size() - done;
                break;
            }
        }
        emit bytesSent(QByteArray(bytes.data(), static_cast<qsizetype>(done)), MonotonicNs());
    }
    armTimer();
}

}  // namespace dervix::sim
