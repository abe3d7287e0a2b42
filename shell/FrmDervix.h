#pragma once
// The main window's logic: its controls, start-up, shutdown and menu, and the
// subsystems that hang off it.
#include <cstdlib>
#include <functional>
#include <string>

#include "about/AboutBox.h"
#include "config/ConfigDialog.h"
#include "devicelink/DeviceLink.h"
#include "maintenance/Kelm.h"
#include "platform/Dialogs.h"
#include "platform/ProfileStore.h"
#include "platform/SerialDevices.h"
#include "platform/SerialPort.h"
#include "platform/System.h"
#include "platform/Timer.h"
#include "shell/Controls.h"
#include "shell/EventLog.h"
#include "shell/Globals.h"
#include "shell/Settings.h"
#include "split/SplitGrid.h"
#include "split/SplitRatio.h"

namespace dervix {

struct Version {
    int major = 0, minor = 0, revision = 0;
};

// Everything outside the logic that the main window reaches.
struct Platform {
    ProfileStore& profile;
    LineFile& logFile;
    Dialogs& dialogs;
    SerialPort& serial;
    OneShotTimer& timer;
    Clock& clock;
    EventPump& pump;
    Screen& screen;
    MenuBadge& badge;
    Process& process;
    SerialDevices& devices;
    // Paces the attempts to reopen a device that came back.
    OneShotTimer& reopenTimer;
    std::string programFolder;
    Version version;
    // The event log file; empty means Dervix.txt in programFolder.
    std::string logPath = {};
};

// Window placement in twips.
struct Geometry {
    int left = 0, top = 0, width = 0, height = 0;
};

class FrmDervix {
public:
    static constexpr const char* kCaption = "Corvane Dervantix";
    // The window's designed size, in twips.
    static constexpr int kDesignWidth = 2790;
    static constexpr int kDesignHeight = 4000;
    // The height start-up cuts the window to: a little below the Start
    // button (its height x 3.7 + its top).
    static constexpr int kCutHeight = 3206;

    explicit FrmDervix(Platform& platform);
    FrmDervix(const FrmDervix&) = delete;
    FrmDervix& operator=(const FrmDervix&) = delete;

    // Start-up after the single-instance test: builds the grid, restores the
    // split and the position, opens the port and sends CHECK.
    void Form_Load();
    // Closing through the window frame: closes the port, saves the position.
    void Form_Unload();
    // The position's part of it, for a session that may end (or not).
    void SavePosition();

    void mnuCfg_Click() { config.showModal(); }
    void mnuQuit_Click() { endProgram(); }
    void mnuAbout_Click() { about.showModal(); }
    void mnuKelm_Click() { kelm.showDialog(); }

    void SetupSerialCommunications() { link.SetupSerialCommunications(); }
    void SendSplitterCode(std::uint8_t code) { split.SendSplitterCode(code); }
    void setKelmgraphic(double& rotations) { kelm.setKelmgraphic(rotations); }

    // Pulls the window back from the screen's right and bottom edges so that
    // all of it shows; start-up does it, and the window again once its frame
    // is known.
    void KeepOnScreen();

    // Where the window's outer size (width, height in twips, frame included
    // once there is one) comes from once its controls are laid out for the
    // desktop's font; the designed size is the least that is kept on screen.
    using SizeSource = std::function<Geometry()>;
    void setSizeSource(SizeSource source) { sizeSource_ = std::move(source); }

    [[noreturn]] void endProgram() {
        platform.process.terminate();
        std::abort();  // terminate() never returns; this keeps the promise visible
    }

    Platform& platform;
    Globals g;
    Settings settings;
    EventLog log;

    TextSlot txtFlowRate{"0.00"};
    Label Label3{"Flow Rate"};
    Label Label5{"mL/min"};
    SplitGrid vaSplit;
    Button cmdSetSplit{"Se&t"};
    Button cmdStart{"&Start"};
    // A reply is handled when it changes: the "NO RESPONSE" of a line error
    // while the time-out box of that very silence is open is nothing new.
    TextSlot DervixResp{{}, TextSlot::OnChange};
    TextSlot txtDVXScmd;

    Geometry form{0, 0, kDesignWidth, kDesignHeight};
    // False where the desktop neither places windows nor tells a window where
    // it is (native Wayland): the close then keeps the stored position.
    bool positionKnown = true;

    DeviceLink link;
    SplitRatio split;
    Kelm kelm;
    ConfigDialog config;
    AboutBox about;

private:
    SizeSource sizeSource_;
};

}  // namespace dervix
