#include "simulator/qt/SimulatedLine.h"

#include <algorithm>

namespace dervix::sim {

SimulatedLine::SimulatedLine(int address, QObject* parent) : QObject(parent) {
    module_.setAddress(address);
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { arrive(); });
}

SerialPort::Result SimulatedLine::setDevice(const std::string&) {
    // Every port reaches the simulated module.
    if (open_) return kPortAlreadyOpen;
    return std::nullopt;
}

SerialPort::Result SimulatedLine::open() {
    if (open_) return kPortAlreadyOpen;
    open_ = true;
    events_.opened();
    return std::nullopt;
}

void SimulatedLine::close() {
    events_.closed();
    open_ = false;
    received_.clear();
    due_.clear();
    timer_.stop();
}

SerialPort::Result SimulatedLine::discardBuffers() {
    if (!open_) return kPortNotOpen;
    // Only what has arrived: replies still on their way arrive later, as
    // on a real line.
    received_.clear();
    return std::nullopt;
}

SerialPort::Result SimulatedLine::write(const std::string& bytes) {
    if (!open_) return kPortNotOpen;
    const qint64 now = clock_.elapsed();
    for (const Emission& e : module_.feed(bytes).emissions) {
        const Due due{now + e.delayMs, e.bytes};
        // Kept in order of arrival; equal times keep the order they were made in.
        const auto at = std::upper_bound(due_.begin(), due_.end(), due,
                                         [](const Due& a, const Due& b) { return a.atMs < b.atMs; });
        due_.insert(at, due);
    }
    armTimer();
    return std::nullopt;
}

std::string SimulatedLine::readAll() {
    std::string bytes;
    bytes.swap(received_);
    return bytes;
}

void SimulatedLine::armTimer() {
    if (due_.empty()) return;
    timer_.start(static_cast<int>(std::max<qint64>(0, due_.front().atMs - clock_.elapsed())));
}

void SimulatedLine::arrive() {
    const qint64 now = clock_.elapsed();
    bool arrived = false;
    while (!due_.empty() && due_.front().atMs <= now) {
        received_ += due_.front().bytes;
        due_.pop_front();
        arrived = true;
    }
    armTimer();
    // From the event loop, never from inside write(): the logic may sit in a
    // box inside the handler, and the line goes on meanwhile.
    if (arrived) events_.postReceive();
}

void SimulatedLine::deliverReceive() {
    if (!open_ || received_.empty() || !handler_) return;
    handler_(CommEvent::Receive);
    if (open_ && !received_.empty()) events_.postReceive();  // came while the handler ran
}

}  // namespace dervix::sim
