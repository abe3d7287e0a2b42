// The program's adapters on Windows.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>

#include "app/MainWindow.h"
#include "app/Startup.h"
#include "app/System.h"
#include "platform/qt/win/DdeServer.h"
#include "platform/qt/win/WinSerialDevices.h"
#include "platform/qt/win/WinSerialPort.h"
#include "platform/SystemClock.h"
#include "platform/win/WinIniProfileStore.h"
#include "platform/win/WinInstance.h"
#include "platform/win/WinLineFile.h"
#include "platform/win/WinLogPlace.h"
#include "platform/win/WinProfilePlace.h"
#include "platform/win/WinText.h"
#include "shell/FrmDervix.h"
#include "shell/LinkProtocol.h"
#include "simulator/qt/SimulatedLine.h"

namespace dervix {

namespace {

class WinAdapters final : public SystemAdapters {
public:
    explicit WinAdapters(bool simulate)
        // The real profile is the user's WIN.INI, or where WinProfilePlace.h
        // says; the demonstration has a file of its own in the user's
        // application data.
        : place_(simulate ? WinProfilePlace{WinOwnProfileFolder(win::UserFolder("APPDATA", "AppData\\Roaming")) +
                                                "\\demo-profile.ini",
                                            {},
                                            false}
                          : ChooseWinProfilePlace(ThisUsersProfileFacts())),
          profile_(place_.file),
          takenOver_(TakeOverProfile(profile_, place_.earlier)) {
        // No pseudo-terminal here: the simulated module is at the end of an
        // in-memory line that stands in for the serial port.
        if (simulate)
            serial_ = std::make_unique<sim::SimulatedLine>(PrepareDemoProfile(profile_));
        else
            serial_ = std::make_unique<WinSerialPort>();
        const LogPlace place = ChooseWinLogPlace(QCoreApplication::applicationDirPath().toStdString());
        logFile_ = std::make_unique<WinLineFile>(place.folderToMake);
        logPath_ = place.path;
    }

    ProfileStore& profile() override { return profile_; }
    LineFile& logFile() override { return *logFile_; }
    std::string logPath() const override { return logPath_; }
    SerialPort& serial() override { return *serial_; }
    SerialDevices& devices() override { return devices_; }
    Clock& clock() override { return clock_; }

    void startingUp(FrmDervix& frm, MainWindow& window, std::function<void()> end) override {
        // Windows first asks whether the session may end, and another
        // program may still refuse: Dervix must then be running yet, a valve
        // run and all. The question only saves what would otherwise be lost,
        // and says nothing, as nobody may answer a box now; the program ends
        // when the session does (Qt's aboutToQuit on WM_ENDSESSION, just
        // before Windows ends the process).
        QObject::connect(qApp, &QGuiApplication::commitDataRequest, [&window](QSessionManager&) { window.savePlace(); });
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, std::move(end));
        // Where the settings came from and where they live, once the window
        // is up, like every later notice.
        if (takenOver_.empty() && !place_.tell) return;
        frm.platform.pump.post([&frm, takenOver = takenOver_, file = place_.tell ? place_.file : std::string()] {
            if (!takenOver.empty()) frm.log.WriteLog(takenOver);
            if (!file.empty()) frm.log.LoggedMsgBox(OwnProfileNotice(file), MsgBox::Information, "Dervix");
        });
    }

    std::string openLink(LinkProtocol& protocol) override {
        link_ = std::make_unique<DdeServer>(
            [&protocol](const std::string& line, LinkWatcher& client) { return protocol.handle(line, &client); });
        if (link_->listen()) return {};
        return link_->errorString().toStdString();
    }

private:
    const WinProfilePlace place_;
    WinIniProfileStore profile_;
    const std::string takenOver_;
    std::unique_ptr<SerialPort> serial_;
    std::unique_ptr<LineFile> logFile_;
    std::string logPath_;
    WinSerialDevices devices_;
    SystemClock clock_;
    std::unique_ptr<DdeServer> link_;
};

class WinSystem final : public System {
public:
    const char* simulateHelp() const override { return "run against a simulated module inside the program"; }

    std::optional<int> enter(int& argc, char** argv) override {
        // One instance per user: a second start ends before it reads or
        // writes anything or opens a port. Windows keeps no runtime folder:
        // the instance is a named mutex, and other programs reach this one
        // through DDE.
        return Entered(argc, argv, instance_, instance_.acquire());
    }

    std::unique_ptr<SystemAdapters> makeAdapters(bool simulate, std::string&) override {
        return std::make_unique<WinAdapters>(simulate);
    }

private:
    WinInstance instance_;
};

}  // namespace

bool DisplayNamed() { return true; }

std::unique_ptr<System> MakeSystem() { return std::make_unique<WinSystem>(); }

}  // namespace dervix
