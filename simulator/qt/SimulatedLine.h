#pragma once
// The simulated module at the other end of an in-memory line, for trying the
// program where no pseudo-terminal can stand in for a serial port (Windows).
// The program's logic talks to it as to any serial port: frames written reach
// the module, and its replies arrive after the module's own delays, announced
// by the event loop as a real port's are.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

#include "platform/SerialPort.h"
#include "platform/qt/LineEvents.h"
#include "simulator/ModuleSimulator.h"

namespace dervix::sim {

class SimulatedLine : public QObject, public SerialPort {
public:
    explicit SimulatedLine(int address = 1, QObject* parent = nullptr);

    Result setDevice(const std::string& devicePath) override;
    Result setLineSettings(const LineSettings&) override { return std::nullopt; }
    Result setNoHandshaking() override { return std::nullopt; }
    Result setDtr(bool) override { return std::nullopt; }
    Result setBufferSizes(int, int) override { return std::nullopt; }
    Result open() override;
    bool isOpen() const override { return open_; }
    void close() override;

    Result discardBuffers() override;
    Result write(const std::string& bytes) override;
    std::string readAll() override;

    void setNotificationHandler(std::function<void(int code)> handler) override { handler_ = std::move(handler); }

    ModuleSimulator& module() { return module_; }

private:
    struct Due {
        qint64 atMs;
        std::string bytes;
    };
    void arrive();
    void deliverReceive();
    void armTimer();

    ModuleSimulator module_;
    std::function<void(int)> handler_;
    bool open_ = false;
    std::string received_;
    std::deque<Due> due_;  // in the order they are due
    QElapsedTimer clock_;
    QTimer timer_;
    // An in-memory line never goes away: only arrivals are posted.
    LineEvents events_{this, [this] { deliverReceive(); }, [] {}};
};

}  // namespace dervix::sim
