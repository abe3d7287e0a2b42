#pragma once
// The main window's logic wired to fakes.
#include <memory>

#include "shell/FrmDervix.h"
#include "support/Fakes.h"

namespace dervix::test {

struct Rig {
    FakeProfileStore profile;
    FakeLineFile logFile;
    FakeDialogs dialogs;
    FakeSerialPort serial;
    FakeTimer timer;
    FakeClock clock;
    FakeEventPump pump;
    FakeScreen screen;
    FakeBadge badge;
    FakeProcess process;
    FakeSerialDevices devices;
    FakeTimer reopenTimer;
    Platform platform{profile, logFile, dialogs, serial, timer, clock, pump, screen, badge, process, devices,
                      reopenTimer, "/opt/dervix", Version{1, 0, 0}};
    std::unique_ptr<FrmDervix> w = std::make_unique<FrmDervix>(platform);

    // A profile with the port configured for module address 1 on Com1.
    void configure(const std::string& moduleId = "1") {
        profile.write("Dervix", "Settings", "19200,N,8,1");
        profile.write("Dervix", "CommPort", "1");
        profile.write("Dervix", "ModuleID", moduleId);
        profile.writes.clear();
    }
    // Configured, started, and the start-up CHECK answered.
    void startAndAnswerCheck(const std::string& moduleId = "1") {
        configure(moduleId);
        w->Form_Load();
        serial.deliver("G" + moduleId + "\r\n");
    }
    std::string lastFrame() const { return serial.frames.empty() ? std::string() : serial.frames.back(); }
};

}  // namespace dervix::test
