#include "config/ConfigDialog.h"

#include <cstdio>

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

namespace {

const std::string kLineSettings = "19200,N,8,1";

// How a person tells the devices apart: the node's name and what the device
// says of itself, parted by em dashes (UTF-8, as the device list shows it):
// ttyUSB0, FT232R USB UART, FTDI, A50285BI.
std::string EntryText(const SerialDeviceInfo& device) {
    std::string text = device.path.rfind("/dev/", 0) == 0 ? device.path.substr(5) : device.path;
    if (!device.description.empty()) text += " \xE2\x80\x94 " + device.description;
    return text;
}

}  // namespace

ConfigDialog::ConfigDialog(FrmDervix& w) : w_(w) {
    cmdOK.setClickHandler([this] { cmdOK_Click(); });
    cmdCancel.setClickHandler([this] { cmdCancel_Click(); });
    cboPort.setChangeHandler([this] { cboPort_Change(); });
    cboDevice.setChangeHandler([this] { cboDevice_Change(); });
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
    refreshDevices();
    // The list follows plugging while the operator looks at it.
    watch_ = w_.platform.devices.watch({}, [this] { refreshDevices(); });
    visible_ = true;
    view_.show(*this);
    watch_.reset();
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

    for (int n = 1; n <= kPorts; ++n) {
        devices_[n - 1] = DeviceLink::PortDevice(w_.settings, n);
        deviceChosen_[n - 1] = false;
    }
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

    // A hand-edited port or address the lists cannot show (Com5 through
    // [Ports], address 16) is no reason to lose it: unless the operator
    // picks an entry, OK stores it back as it was.
    keptPort_ = cboPort.listIndex() < 0 ? g.PortNumber : std::string();
    keptAddress_ = cboASaddr.listIndex() < 0 ? w_.settings.GetIniValue(kSection, "ModuleID") : std::string();
    loaded_ = true;
}

std::string ConfigDialog::deviceNote(int index) const {
    if (index < 0 || index >= kPorts) return {};
    return "Device: " + devices_[index];
}

void ConfigDialog::cboPort_Change() {
    lblDevice.setCaption(deviceNote(cboPort.listIndex()));
    fillDevices();
}

void ConfigDialog::refreshDevices() {
    present_ = w_.platform.devices.present();
    fillDevices();
}

// The devices present, with the one behind the chosen port selected; that
// one is listed even when it is not there, so the operator sees it missing.
void ConfigDialog::fillDevices() {
    fillingDevices_ = true;
    cboDevice.clear();
    entryDevices_.clear();
    const int port = cboPort.listIndex();
    int chosen = -1;
    if (port >= 0 && port < kPorts) {
        const std::string& mapped = devices_[port];
        const std::string node = w_.platform.devices.resolve(mapped);
        for (const SerialDeviceInfo& device : present_) {
            // The stable name where there is one: it survives another socket.
            entryDevices_.push_back(device.byIdPath.empty() ? device.path : device.byIdPath);
            cboDevice.addItem(EntryText(device));
            if (mapped == device.path || mapped == device.byIdPath || (!node.empty() && node == device.path))
                chosen = static_cast<int>(entryDevices_.size()) - 1;
        }
        if (chosen < 0 && !mapped.empty()) {
            entryDevices_.push_back(mapped);
            cboDevice.addItem(node.empty() ? mapped + " (not present)" : mapped);
            chosen = static_cast<int>(entryDevices_.size()) - 1;
        }
    }
    cboDevice.setListIndex(chosen);
    fillingDevices_ = false;
}

void ConfigDialog::cboDevice_Change() {
    if (fillingDevices_) return;
    const int port = cboPort.listIndex();
    const int entry = cboDevice.listIndex();
    if (port < 0 || port >= kPorts || entry < 0 || entry >= static_cast<int>(entryDevices_.size())) return;
    devices_[port] = entryDevices_[static_cast<std::size_t>(entry)];
    deviceChosen_[port] = true;
    lblDevice.setCaption(deviceNote(port));
}

// Only a device the operator chose goes to the profile: a mapping edited by
// hand stays as it was written.
bool ConfigDialog::storeDeviceChoice() {
    const int port = cboPort.listIndex();
    if (port < 0 || port >= kPorts || !deviceChosen_[port]) return true;
    return w_.settings.WriteIniValue("Ports", "Com" + std::to_string(port + 1), devices_[port]);
}

bool ConfigDialog::storeChoices() {
    Settings& settings = w_.settings;
    bool stored = settings.WriteIniValue(kSection, "AppPath", Settings::GetShortPath(w_.platform.programFolder));
    const std::string port = cboPort.listIndex() < 0 && !keptPort_.empty() ? keptPort_
                                                                             : PlainForm(cboPort.listIndex() + 1);
    const std::string address =
        cboASaddr.listIndex() < 0 && !keptAddress_.empty() ? keptAddress_ : PlainForm(cboASaddr.listIndex());
    stored = settings.WriteIniValue(kSection, "CommPort", port) && stored;
    stored = settings.WriteIniValue(kSection, "Settings", kLineSettings) && stored;
    stored = settings.WriteIniValue(kSection, "ModuleID", address) && stored;
    return stored;
}

void ConfigDialog::cmdOK_Click() {
    if (!visible_) return;
    const bool deviceStored = storeDeviceChoice();
    SerialPort& port = w_.platform.serial;
    if (port.isOpen()) port.close();

    // A value that did not reach the profile would otherwise be read back
    // as the old one and the operator's choice silently lost.
    const bool stored = storeChoices() && deviceStored;
    std::string message = stored ? std::string() : "The settings could not be written to the profile.";
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
