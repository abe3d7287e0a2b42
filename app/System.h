#pragma once
// What the operating system gives the program. Each system has one factory,
// in a folder of its own (app/posix/, app/win/), that makes every adapter
// that differs between systems; the composition root in main.cpp reads the
// same on every system, and another system would be one more folder.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ProfileStore.h"
#include "platform/SerialDevices.h"
#include "platform/SerialPort.h"
#include "platform/System.h"

namespace dervix {

class FrmDervix;
class LinkProtocol;
class MainWindow;

// The adapters of one system, made once the application object exists and
// gone before it is.
class SystemAdapters {
public:
    virtual ~SystemAdapters() = default;

    virtual ProfileStore& profile() = 0;
    virtual LineFile& logFile() = 0;
    virtual std::string logPath() const = 0;
    virtual SerialPort& serial() = 0;
    virtual SerialDevices& devices() = 0;
    virtual Clock& clock() = 0;

    // Before the start-up: the end of the desktop session ends the program
    // as the operator's closing of the window does (end), and what the
    // operator is owed a word about is posted, to be told once the window is up.
    virtual void startingUp(FrmDervix& frm, MainWindow& window, std::function<void()> end) = 0;
    // Lets other programs reach this one through protocol: the empty text,
    // or why they cannot.
    virtual std::string openLink(LinkProtocol& protocol) = 0;
};

class System {
public:
    virtual ~System() = default;

    // What --simulate plays the module on, for the usage text.
    virtual const char* simulateHelp() const = 0;
    // Before the application object: what the desktop must be told first,
    // and one instance per user. Nothing when the program goes on; else the
    // exit code it ends with.
    virtual std::optional<int> enter(int& argc, char** argv) = 0;
    // The adapters, for the real module or (simulate) for one played inside
    // the program, on a demonstration profile that leaves the real one
    // alone. On failure nothing, and why in failure.
    virtual std::unique_ptr<SystemAdapters> makeAdapters(bool simulate, std::string& failure) = 0;
};

// This system's; defined once in each system's folder.
std::unique_ptr<System> MakeSystem();

// Fills in what a demonstration's first start would otherwise have to ask
// for, so it talks at once; returns the module address it configures.
int PrepareDemoProfile(ProfileStore& profile);

}  // namespace dervix
