#pragma once
// The simulated module on a pseudo-terminal: the program opens the slave
// side like any serial device, the simulator sits on the master side.
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <map>
#include <string>

#include "simulator/ModuleSimulator.h"

class QSocketNotifier;

namespace dervix::sim {

// CLOCK_MONOTONIC in nanoseconds; the time base of every timestamp below.
qint64 MonotonicNs();

class PtySimulator : public QObject {
    Q_OBJECT

public:
    explicit PtySimulator(QObject* parent = nullptr);
    ~PtySimulator() override;

    // Opens a fresh pseudo-terminal (again after a hang-up: a new device).
    bool open();
    bool isOpen() const { return master_ >= 0; }
    // Where the program finds the device, e.g. /dev/pts/4.
    QString slavePath() const { return slavePath_; }
    QString errorString() const { return error_; }

    // The device disappears as a pulled USB adapter does: the master side is
    // closed, replies not yet sent are dropped.
    void hangUp();

    // Bytes straight onto the line, outside any reply (line noise, floods).
    void sendNow(const std::string& bytes);

    // Only from the thread this object lives in.
    ModuleSimulator& module() { return module_; }
    // Bytes a reply could not hand to the terminal because nobody read it.
    std::uint64_t droppedBytes() const { return dropped_; }

signals:
    // A whole frame arrived; firstByteNs is when its first byte was read.
    void frameReceived(const QByteArray& frame, qint64 firstByteNs);
    // Bytes of a reply went to the terminal; lastByteNs is when the write returned.
    void bytesSent(const QByteArray& bytes, qint64 lastByteNs);

private:
    void onReadable();
    void sendDue();
    void armTimer();
    void closeFds();

    int master_ = -1;
    // Held open so the master never reads EIO (and spins) while no program
    // has the device open.
    int slave_ = -1;
    QString slavePath_;
    QString error_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer timer_;  // a child, so it moves to the simulator's thread with it
    ModuleSimulator module_;
    // Replies waiting for their time, in due order; equal times keep their order.
    std::multimap<qint64, std::string> due_;
    qint64 frameStartNs_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace dervix::sim
