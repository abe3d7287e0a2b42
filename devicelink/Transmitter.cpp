// The one entry through which every command reaches the module.
#include <cstdio>

#include "devicelink/DeviceLink.h"
#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

namespace {

// Requests are 8-bit Latin-1 text. Its lower-case letters are a-z and
// 0xE0-0xFE but for the division sign 0xF7, each 0x20 above its capital;
// the sharp s and 0xFF have no capital in Latin-1 and stay as they are.
std::string UpperLatin1(std::string text) {
    for (char& c : text) {
        const auto code = static_cast<unsigned char>(c);
        if ((code >= 'a' && code <= 'z') || (code >= 0xE0 && code <= 0xFE && code != 0xF7))
            c = static_cast<char>(code - 0x20);
    }
    return text;
}

std::string TrimBlanks(const std::string& text) {
    std::size_t b = text.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return text.substr(b, text.find_last_not_of(' ') - b + 1);
}

struct Lettered {
    const char* request;
    char body;
    int intervalMs;
};

constexpr Lettered kLettered[] = {
    {"START", 'C', 190}, {"STOP", 'D', 190},  {"STATUS", 'S', 190}, {"MODEL", 'T', 190},
    {"ID", '%', 190},    {"CHECK", '%', 190}, {"TEST", 'B', 6000},  {"HOME", 'H', 1500},
};

}  // namespace

DeviceLink::DeviceLink(FrmDervix& w) : w_(w) {}

void DeviceLink::wire() {
    w_.txtDVXScmd.setHandler([this] { txtDVXScmd_Change(); });
    w_.DervixResp.setHandler([this] { DervixResp_Change(); });
    w_.platform.timer.setInterval(500);
    w_.platform.timer.setHandler([this] { TimerResp_Timer(); });
    w_.platform.serial.setNotificationHandler([this](int code) { MSComm_OnComm(code); });
    w_.platform.reopenTimer.setInterval(kReopenRetryMs);
    w_.platform.reopenTimer.setHandler([this] {
        ++reopenRetries_;
        lookForDevice();
    });
    w_.cmdStart.setClickHandler([this] { cmdStart_Click(); });
}

std::string DeviceLink::StripControlChars(const std::string& text) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text)
        if (static_cast<unsigned char>(c) > 26) kept.push_back(c);
    return kept;
}

bool DeviceLink::runRequestAwaited() const {
    return w_.g.LinkState == kWaiting && (w_.g.CurrentCommand == "START" || w_.g.CurrentCommand == "STOP");
}

bool DeviceLink::heldBack(const std::string& request) const {
    // A re-send is START or STOP itself; a client must be able to end the
    // program whatever is awaited; and once the time-out box is open the
    // wait is over.
    return runRequestAwaited() && !resending_ && !givingUp_ && request != "KILL";
}

void DeviceLink::txtDVXScmd_Change() {
    const std::string placed = w_.txtDVXScmd.text();
    if (placed.empty()) return;
    Globals& g = w_.g;
    SerialPort& port = w_.platform.serial;
    OneShotTimer& timer = w_.platform.timer;

    // A client may place anything, line breaks included: the log shows them
    // as blanks, so no request can write lines that look like the program's.
    const std::string logged = EventLog::OneLine(placed);
    const std::string request = UpperLatin1(StripControlChars(placed));
    if (heldBack(request)) {
        // Sent now, it would take the place of START or STOP: the valve's
        // reply would be taken for this request's, Start/Stop would never
        // learn whether the valve runs, and the run's rotations would go
        // uncounted. It follows the reply instead; of several placed
        // meanwhile only the latest is sent, as only the latest is awaited.
        heldRequest_ = placed;
        w_.log.WriteLog("Send Command - [" + logged + "] held until " + g.CurrentCommand + " is answered");
        w_.txtDVXScmd.setText("");
        return;
    }
    w_.log.WriteLog("Send Command - [" + logged + "]");
    w_.DervixResp.setText("");
    timer.setInterval(190);
    char address[8];
    std::snprintf(address, sizeof address, "%X", static_cast<unsigned>(g.ModuleAddress));
    g.CurrentCommand = request;
    // A port that a failed step closes has met its device's loss before the
    // line error that tells of it: that error follows and is the report, for
    // this request and for any other that meets the closed port before it.
    const bool wasOpen = port.isOpen();
    const auto lost = [&] {
        if (wasOpen && !port.isOpen()) lossUntold_ = true;
        return lostWatch_ || lossUntold_;
    };
    auto discarded = port.discardBuffers();
    // A client must be able to end the program even while the port is closed.
    if (g.CurrentCommand == "KILL") w_.endProgram();
    if (discarded && !lost()) return sendFailed(discarded->description);
    const std::string prefix = std::string("G") + address;

    std::string frame;
    bool lettered = false;
    if (g.CurrentCommand == "LOAD") {
        w_.split.LoadSplitSettings();
        g.CurrentCommand = SignedForm(g.CurSplitCode);
        frame = prefix + "F" + TrimBlanks(g.CurrentCommand) + "\r\n";
    } else {
        for (const Lettered& l : kLettered) {
            if (g.CurrentCommand != l.request) continue;
            timer.setInterval(l.intervalMs);
            frame = prefix + l.body + "\r\n";
            lettered = true;
            break;
        }
        if (!lettered) frame = prefix + "F" + TrimBlanks(g.CurrentCommand) + "\r\n";
    }
    if (auto e = discarded ? discarded : port.write(frame)) {
        // While the device is away and watched for, the loss has been
        // logged and its return brings CHECK: a request that cannot leave
        // counts as one that was not answered, and a loss that lasts is told
        // once, by the time-out of its retries. A box for each frame would
        // bury the operator under a loose cable's every flicker.
        if (!lost()) return sendFailed(e->description);
        w_.log.WriteLog("Send Command - not sent, the port is lost: " + e->description);
    }
    if (lettered) g.LinkState = kWaiting;

    w_.txtDVXScmd.setText("");
    timer.start();
}

void DeviceLink::sendFailed(const std::string& description) {
    ++sendFailures_;
    // Nothing left the port, so no reply can ever end a wait for one; a
    // caller waiting while "WAITING" (the About box) would wait for ever,
    // e.g. when the adapter is pulled during a request and the retry fails.
    w_.g.LinkState = kReady;
    // Nothing is outstanding any more: the time-out of the frame before must
    // not re-send it behind this box (a second failure box on top of this
    // one), and the next request gets all its re-sends.
    w_.platform.timer.stop();
    w_.g.RetryCount = 0;
    // Nothing will answer the run request either; the split code held for
    // it goes with the next CHECK's reply, which always sends the current one.
    heldRequest_.clear();
    // Only a reply enables Start/Stop again, and none can come now; this is
    // noticed here whether the operator's click or a re-send failed.
    w_.cmdStart.setEnabled(true);
    w_.log.LoggedMsgBox("Error occurred while sending a command to the Corvane Dervantix\r" + description +
                            "\rEither the serial port needs configuration or it is possible that the\r"
                            "Corvane Dervantix needs to be power-cycled.",
                        MsgBox::Critical, kSection);
}

void DeviceLink::cmdStart_Click() {
    const unsigned failuresBefore = sendFailures_;
    if (w_.cmdStart.caption() == "&Start") {
        w_.txtDVXScmd.setText("START");
        w_.cmdSetSplit.setEnabled(false);
    } else {
        w_.txtDVXScmd.setText("STOP");
    }
    w_.cmdStart.setEnabled(false);
    // Nothing reached the module, so no reply will ever enable the button.
    if (sendFailures_ != failuresBefore) w_.cmdStart.setEnabled(true);
}

}  // namespace dervix
