#include "config/ConfigDialog.h"

#include <cstdio>

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

namespace {
const std::string kLineSettings = "19200,N,8,1";
}  // namespace

ConfigDialog::ConfigDialog(FrmDervix& w) : w_(w) {
    cmdOK.setClickHandler([this] { cmdOK_Click(); });
    cmdCancel.setClickHandler([this] { cmdCancel_Click(); });
    cboPort.setChangeHandler([this] { cboPort_Change(); });
}

const std::string& ConfigDialog::deviceOf(int index) const {
    static const std::string kNone;
    return (index >= 0 && index < kPorts) ? devices_[index] : kNone;
}

void ConfigDialog::showModal() {
    // Already on screen (a module that stays silent while the operator is in
    // here asks for it again): the operator is in the dialog already.
    if (visible_) return;
    if (!loaded_) Form_Load();
    visible_ = true;
    view_.show(*this);
    // Still visible: the frame was closed without OK or Cancel.
    if (visible_) unload();
}

void ConfigDialog::centre(int widthTwips, int heightTwips) {
    const ScreenSize screen = w_.platform.screen.size();
    left = (screen.widthTwips - widthTwips) / 2;
    top = (screen.heightTwips - heightTwips) / 2;
}

void ConfigDialog::Form_Load() {
    centre(kWidth, kHeight);

    Globals& g = w_.g;
    w_.settings.CheckSettings(g);  // only the values are wanted here

    for (int n = 1; n <= kPorts; ++n) devices_[n - 1] = DeviceLink::PortDevice(w_.settings, n);
    cboPort.clear();
    for (int n = 1; n <= kPorts; ++n) cboPort.addItem("Com" + std::to_string(n));
    if (g.PortNumber.empty()) {
        cboPort.setListIndex(0);
    } else {
        // "0", or a number beyond the list, chooses nothing.
        const double position = RoundHalfEven(NumericValue(g.PortNumber) - 1);
        cboPort.setListIndex(position >= 0 && position < kPorts ? static_cast<int>(position) : -1);
    }

    cboASaddr.clear();
    for (int a = 0; a < kAddresses; ++a) {
        char digit[4];
        std::snprintf(digit, sizeof digit, "%X", static_cast<unsigned>(a));
        cboASaddr.addItem(digit);
    }
    cboASaddr.setListIndex(g.ModuleAddress);
    loaded_ = true;
}

std::string ConfigDialog::deviceNote(int index) const {
    if (index < 0 || index >= kPorts) return {};
    return "Device: " + devices_[index];
}

void ConfigDialog::cboPort_Change() { lblDevice.setCaption(deviceNote(cboPort.listIndex())); }

bool ConfigDialog::storeChoices() {
    Settings& settings = w_.settings;
    bool stored = settings.WriteIniValue(kSection, "AppPath", Settings::GetShortPath(w_.platform.programFolder));
    stored = settings.WriteIniValue(kSection, "CommPort", PlainForm(cboPort.listIndex() + 1)) && stored;
    stored = settings.WriteIniValue(kSection, "Settings", kLineSettings) && stored;
    stored = settings.WriteIniValue(kSection, "ModuleID", PlainForm(cboASaddr.listIndex())) && stored;
    return stored;
}

void ConfigDialog::cmdOK_Click() {
    if (!visible_) return;
    SerialPort& port = w_.platform.serial;
    if (port.isOpen()) port.close();

    // A value that did not reach the profile would otherwise be read back
    // as the old one and the operator's choice silently lost.
    std::string message = storeChoices() ? std::string() : "The settings could not be written to the profile.";
    if (message.empty()) message = w_.settings.CheckSettings(w_.g);
    if (!message.empty()) {
        w_.log.LoggedMsgBox("Problem reading serial port settings from WIN.INI:\r" + message, MsgBox::Critical,
                            kSection);
        return;
    }

    endDisplay();
    const std::string failure = w_.link.OpenPort();
    if (!failure.empty()) {
        // Stays loaded: the next opening shows these choices again.
        w_.log.LoggedMsgBox("Problem configuring serial port:\r" + failure, MsgBox::Critical, kSection);
        return;
    }
    w_.txtDVXScmd.setText("CHECK");
    unload();
}

void ConfigDialog::endDisplay() {
    if (!visible_) return;
    visible_ = false;
    view_.hide();
}

void ConfigDialog::unload() {
    endDisplay();
    loaded_ = false;
}

}  // namespace dervix
