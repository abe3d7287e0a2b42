// A device that went away while open (an adapter pulled out) is reopened
// when the same path comes back, so the operator need not go through the
// configuration dialog to carry on.
#include "devicelink/DeviceLink.h"
#include "shell/FrmDervix.h"

namespace dervix {

void DeviceLink::lineLost() {
    if (lostWatch_ || device_.empty()) return;
    // Pseudo-terminal numbers are handed to whichever terminal opens next:
    // the same name coming back is never the same device.
    if (device_.rfind("/dev/pts/", 0) == 0) {
        w_.log.WriteLog("Port lost - " + device_);
        return;
    }
    w_.log.WriteLog("Port lost - waiting for " + device_ + " to come back");
    SerialDevices& devices = w_.platform.devices;
    // Still there may mean not yet gone: a device node lingers a moment
    // after its hang-up, and a dying device must not be opened again and
    // again. One tick of the reopen timer later it is gone, or it never went
    // and the line was taken for lost by mistake: then it is opened again.
    deviceSeenAbsent_ = devices.resolve(device_).empty();
    reopenFailureShown_ = false;
    reopenRetries_ = 0;
    lostWatch_ = devices.watch(device_, [this] { lookForDevice(); });
    if (!deviceSeenAbsent_) w_.platform.reopenTimer.start();
}

void DeviceLink::lookForDevice() {
    if (!lostWatch_) return;
    OneShotTimer& retry = w_.platform.reopenTimer;
    if (w_.platform.serial.isOpen()) {  // opened meanwhile by other means
        lostWatch_.reset();
        retry.stop();
        return;
    }
    const std::string node = w_.platform.devices.resolve(device_);
    if (node.empty()) {
        deviceSeenAbsent_ = true;
        // A later return is a new one, with its own attempts and its own word.
        reopenFailureShown_ = false;
        reopenRetries_ = 0;
        retry.stop();
        return;
    }
    if (!deviceSeenAbsent_) {
        if (reopenRetries_ == 0) return;  // not yet a tick since the loss
        deviceSeenAbsent_ = true;
    }

    // As the configuration dialog's OK does: the stored settings, then CHECK.
    const std::string device = device_;
    const std::string failure = openPort();
    if (!failure.empty()) {
        // Busy, or not yet ours (udev sets the group just after the node
        // appears): tried again shortly, and only what lasts is said, once;
        // after that every change or check of the watch tries again.
        if (reopenFailureShown_) return;
        if (reopenRetries_ < kReopenRetries) {
            if (!retry.isActive()) retry.start();
            return;
        }
        reopenFailureShown_ = true;
        w_.log.LoggedMsgBox("COM" + w_.g.PortNumber + " (" + device + ") is back but cannot be opened:\r\r" +
                                failure + "\r\rDervix keeps watching the port and opens it as soon as it can.",
                            MsgBox::Information, kSection);
        return;
    }
    lostWatch_.reset();
    retry.stop();
    w_.log.WriteLog("Port reopened - " + device + (node != device ? " (" + node + ")" : std::string()));
    w_.txtDVXScmd.setText("CHECK");
}

}  // namespace dervix
