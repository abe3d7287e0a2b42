#pragma once
// The port and module configuration dialog: which serial port, which device
// it stands for, which module address. OK stores them, reopens the port and
// asks the module for CHECK.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/ComboList.h"
#include "platform/Dialogs.h"
#include "platform/SerialDevices.h"
#include "shell/Controls.h"

namespace dervix {

class FrmDervix;
class Settings;

class ConfigDialog {
public:
    static constexpr const char* kCaption = "Corvane Dervantix - Configuration";
    // The dialog's designed size, in twips.
    static constexpr int kWidth = 4800;
    static constexpr int kHeight = 2640;
    static constexpr int kPorts = 4;
    static constexpr int kAddresses = 16;

    using ViewFactory = ModalViewSlot<ConfigDialog>::Factory;

    explicit ConfigDialog(FrmDervix& w);
    ConfigDialog(const ConfigDialog&) = delete;
    ConfigDialog& operator=(const ConfigDialog&) = delete;

    // Loads the dialog unless an earlier OK left it hidden but loaded, then
    // shows it; returns when it is hidden or closed.
    void showModal();
    void setViewFactory(ViewFactory factory) { view_.setFactory(std::move(factory)); }

    bool loaded() const { return loaded_; }
    bool visible() const { return visible_; }

    // The device behind each entry of cboPort: the profile's [Ports] ComN,
    // else the N-th standard serial device, until the operator chooses one.
    const std::string& deviceOf(int index) const;
    // What the operator is told about the device behind an entry.
    std::string deviceNote(int index) const;

    Label Label1{"PC COM Port:"};
    ComboList cboPort;
    Label lblDevice;     // the device behind the chosen port
    ComboList cboDevice;  // the serial devices present, to put behind it
    Label Label2{"Module Address:"};
    ComboList cboASaddr;
    Button cmdOK{"OK"};
    Button cmdCancel{"Cancel"};

    // Placement in twips, centred on the screen at load.
    int left = 0;
    int top = 0;
    // Centres a dialog of this size (twips) on the screen: at load by the
    // designed size, and by its visible form once laid out for its font.
    void centre(int widthTwips, int heightTwips);

private:
    void Form_Load();
    void cmdOK_Click();
    void cmdCancel_Click() { unload(); }
    void cboPort_Change();
    void cboDevice_Change();
    void refreshDevices();
    void fillDevices();
    bool storeDeviceChoice();
    bool storeChoices();
    void endDisplay();
    void unload();

    FrmDervix& w_;
    ModalViewSlot<ConfigDialog> view_;
    std::string devices_[kPorts];
    // The stored "CommPort" and "ModuleID" texts when their list has no
    // entry for them; empty otherwise.
    std::string keptPort_;
    std::string keptAddress_;
    bool deviceChosen_[kPorts] = {};
    std::vector<SerialDeviceInfo> present_;
    std::vector<std::string> entryDevices_;  // what each entry of cboDevice stores
    bool fillingDevices_ = false;
    std::unique_ptr<SerialDevices::Watch> watch_;
    bool loaded_ = false;
    bool visible_ = false;
};

}  // namespace dervix
