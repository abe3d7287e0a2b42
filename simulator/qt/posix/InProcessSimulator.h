#pragma once
// The simulated module on its own thread inside the program, for trying the
// program without hardware: the program opens the returned device path as
// its serial port and never notices the difference.
#include <QString>
#include <functional>

#include "simulator/ModuleSimulator.h"

class QThread;

namespace dervix::sim {

class PtySimulator;

class InProcessSimulator {
public:
    InProcessSimulator();
    ~InProcessSimulator();
    InProcessSimulator(const InProcessSimulator&) = delete;
    InProcessSimulator& operator=(const InProcessSimulator&) = delete;

    // Starts the thread and the pseudo-terminal. Returns the device path, or
    // the empty text with errorString() telling why.
    QString start(int address = 1);
    void stop();
    QString path() const { return path_; }
    QString errorString() const { return error_; }

    // Runs work on the simulator's thread and waits for it: the only way to
    // read or change the module (faults, address, state) from outside.
    void withModule(const std::function<void(ModuleSimulator&)>& work);
    // Bytes straight onto the line (see PtySimulator::sendNow).
    void sendRaw(const std::string& bytes);
    // The device disappears (see PtySimulator::hangUp).
    void hangUp();
    // A new device after a hang-up; returns its path (empty on failure).
    QString replug();

    // For connecting to its signals; they arrive queued on the receiver's thread.
    PtySimulator* simulator() const { return sim_; }

private:
    void runBlocking(const std::function<void()>& work);

    QThread* thread_ = nullptr;
    PtySimulator* sim_ = nullptr;
    QString path_;
    QString error_;
};

}  // namespace dervix::sim
