#pragma once
// The main window's logic on the real serial port and response timer,
// talking to the simulated module over a real pseudo-terminal. Profile,
// dialogs and the rest stay fakes; the clock is the wall clock, so runs are
// counted in real seconds.
#include <QObject>
#include <QString>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/qt/posix/QtSerialDevices.h"
#include "platform/qt/posix/PosixSerialPort.h"
#include "platform/qt/QtTimer.h"
#include "shell/FrmDervix.h"
#include "simulator/qt/posix/InProcessSimulator.h"
#include "simulator/qt/posix/PtySimulator.h"
#include "support/Fakes.h"

namespace dervix::test {

class WallClock : public Clock {
public:
    std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now(); }
    LocalTime toLocal(std::chrono::system_clock::time_point t) const override {
        std::time_t seconds = std::chrono::system_clock::to_time_t(t);
        std::tm tm{};
        localtime_r(&seconds, &tm);
        return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                tm.tm_min,         tm.tm_sec,     static_cast<int>(tm.tm_gmtoff)};
    }
};

struct SeenFrame {
    QByteArray frame;
    qint64 firstByteNs;
};

struct PtyRig {
    sim::InProcessSimulator sim;
    FakeProfileStore profile;
    FakeLineFile logFile;
    FakeDialogs dialogs;
    PosixSerialPort serial;
    QtTimer timer;
    WallClock clock;
    FakeEventPump pump;
    FakeScreen screen;
    FakeBadge badge;
    FakeProcess process;
    QtSerialDevices devices;
    QtTimer reopenTimer;
    Platform platform{profile, logFile, dialogs, serial, timer, clock, pump, screen, badge, process, devices,
                      reopenTimer, "/opt/dervix", Version{1, 0, 0}};
    std::unique_ptr<FrmDervix> w = std::make_unique<FrmDervix>(platform);

    QString path;
    QObject receiver;                 // lives on the test's thread
    std::vector<SeenFrame> frames;    // every frame the module saw, in order

    // Starts the module and writes a profile whose Com1 is its terminal.
    bool startModule(int address = 1, const std::string& moduleId = "1", bool logging = false) {
        path = sim.start(address);
        if (path.isEmpty()) return false;
        follow();
        profile.write("Ports", "Com1", path.toStdString());
        profile.write("Dervix", "Settings", "19200,N,8,1");
        profile.write("Dervix", "CommPort", "1");
        profile.write("Dervix", "ModuleID", moduleId);
        if (logging) profile.write("Dervix", "Logging", "1");
        profile.writes.clear();
        return true;
    }
    // Records the module's frames; a replug keeps the same module.
    void follow() {
        QObject::connect(sim.simulator(), &sim::PtySimulator::frameReceived, &receiver,
                         [this](const QByteArray& f, qint64 ns) { frames.push_back({f, ns}); });
    }
    int count(const QByteArray& frame) const {
        int n = 0;
        for (const SeenFrame& f : frames) n += f.frame == frame;
        return n;
    }
    QList<QByteArray> frameList() const {
        QList<QByteArray> list;
        for (const SeenFrame& f : frames) list << f.frame;
        return list;
    }
    // Lines of the event log that contain the text.
    int logLines(const std::string& text) const {
        int n = 0;
        for (const std::string& line : logFile.lines) n += line.find(text) != std::string::npos;
        return n;
    }
};

}  // namespace dervix::test
