// Deciding when a reply is complete, retrying silence, applying replies.
#include <cstdint>
#include <limits>
#include <utility>

#include "devicelink/DeviceLink.h"
#include "shell/DateTime.h"
#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

namespace {
constexpr int kRetryLimit = 15;
const std::string kNoResponse = "NO RESPONSE";

// Raises a flag for as long as a scope runs, however it is left: a box's
// nested events may end the program by unwinding through it.
class Raised {
public:
    explicit Raised(bool& flag) : flag_(flag), was_(std::exchange(flag, true)) {}
    ~Raised() { flag_ = was_; }
    Raised(const Raised&) = delete;
    Raised& operator=(const Raised&) = delete;

private:
    bool& flag_;
    bool was_;
};
}  // namespace

std::string DeviceLink::FilterReplyBytes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto code = static_cast<unsigned char>(c);
        if (code == 254) out.push_back('\n');
        else if (code != 225 && code != 15) out.push_back(c);
    }
    return out;
}

void DeviceLink::DervixResp_Change() {
    std::string text = w_.DervixResp.text();
    if (text.empty()) return;
    // Noise: the receive path logs what it added, once.
    const bool noise = std::exchange(receivedNoise_, false);
    if (!noise) w_.log.WriteLog("DervixResp_Change " + EventLog::ReplyText(text));
    if (text == kNoResponse) {
        if (!noResponse()) return;
        // CHECK gave up: the nested handling has run; go on with what is left.
        text = w_.DervixResp.text();
    }
    if (!noise) w_.log.WriteLog("Response String Original = [" + EventLog::ReplyText(text) + "]");
    std::string reply = FilterReplyBytes(text);
    if (reply.size() < 2 || reply.compare(reply.size() - 2, 2, "\r\n") != 0) return;

    w_.platform.timer.stop();
    w_.g.RetryCount = 0;
    w_.g.LinkState = kReady;
    reply = StripControlChars(reply);
    w_.log.WriteLog("Response String = [" + EventLog::OneLine(reply) + "]");
    applyReply(reply);
    w_.DervixResp.setText("");
    sendHeldRequest();
}

void DeviceLink::sendHeldRequest() {
    if (heldRequest_.empty() || runRequestAwaited()) return;
    w_.txtDVXScmd.setText(std::exchange(heldRequest_, std::string()));
}

bool DeviceLink::noResponse() {
    Globals& g = w_.g;
    // A line error (after a stray byte, say) while the time-out box is open
    // is the silence already being told: no second box, no second write.
    if (givingUp_) return false;
    if (g.RetryCount < kRetryLimit) {
        ++g.RetryCount;
        const Raised resending(resending_);
        w_.txtDVXScmd.setText(g.CurrentCommand);
        return false;
    }
    const std::string command = g.CurrentCommand;
    w_.settings.WriteIniValue(kSection, "ErrorStatus", command);
    // What waited for START's or STOP's reply goes with the wait: sent now,
    // a silent module would time it out too, with a second box and dialog.
    // The dialog's OK sends CHECK, whose reply sends the current split.
    heldRequest_.clear();
    {
        const Raised givingUp(givingUp_);
        w_.log.LoggedMsgBox(command + " Timeout after " + SignedForm(kRetryLimit) + " retries",
                            MsgBox::Information, kSection);
    }
    g.RetryCount = 0;
    w_.cmdStart.setEnabled(true);
    g.LinkState = kReady;
    // As it stands now: a request placed through the link while the box was
    // open has replaced the one that timed out.
    if (g.CurrentCommand == "CHECK") {
        // Handled as a CHECK reply that does not begin with "G".
        w_.DervixResp.setText(w_.DervixResp.text() + "\r\n");
        return true;
    }
    w_.DervixResp.setText("");
    w_.config.showModal();
    return false;
}

void DeviceLink::notResponding() {
    int answer = w_.log.LoggedMsgBox(
        "Dervantix is not responding!\r\r1. Check that dervantix is connected\r2. Check that dervantix is "
        "powered\r3. Check module address is set correctly\r4. Check that the correct serial port is selected",
        MsgBox::RetryCancel, kSection);
    if (answer == MsgBox::ResultCancel) w_.endProgram();
    w_.config.showModal();
}

void DeviceLink::applyReply(const std::string& reply) {
    const std::string& command = w_.g.CurrentCommand;
    auto withoutHead = [&reply] { return reply.size() > 2 ? reply.substr(2) : std::string(); };
    if (command == "MODEL") {
        if (Label* label = w_.about.lblModel()) label->setCaption(withoutHead());
    } else if (command == "ID") {
        if (Label* label = w_.about.lblID()) label->setCaption(withoutHead());
    } else if (command == "STATUS") {
        if (Label* label = w_.about.lblStatus()) label->setCaption(reply);
    } else if (command == "CHECK") {
        if (!reply.empty() && reply[0] == 'G') w_.SendSplitterCode(w_.g.CurSplitCode);
        else notResponding();
    } else if (command == "START") {
        const Clock& clock = w_.platform.clock;
        w_.settings.WriteIniValue(kSection, "Running", FormatIso8601(clock.toLocal(clock.now())));
        w_.cmdStart.setCaption("&Stop");
        w_.cmdStart.setEnabled(true);
    } else if (command == "STOP") {
        w_.cmdSetSplit.setEnabled(true);
        accountRun();
        w_.cmdStart.setCaption("&Start");
        w_.cmdStart.setEnabled(true);
    } else if (command == "TEST") {
        w_.cmdStart.setCaption("&Start");
        w_.cmdStart.setEnabled(true);
    }
}

void DeviceLink::accountRun() {
    Settings& settings = w_.settings;
    const std::string started = settings.GetIniValue(kSection, "Running");
    if (started.empty()) return;
    const auto start = ParseIso8601(started);
    settings.WriteIniValue(kSection, "Running", "");
    if (!start) {
        w_.log.WriteLog("Running - not a date and time, run not counted: [" + EventLog::OneLine(started) + "]");
        return;
    }
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         w_.platform.clock.now().time_since_epoch()).count();
    std::int64_t seconds = now - *start;
    // A clock set back must never take rotations away.
    if (seconds < 0) {
        w_.log.WriteLog("Running - start lies in the future, run not counted: [" + EventLog::OneLine(started) + "]");
        seconds = 0;
    }
    if (seconds > std::numeric_limits<std::int32_t>::max()) seconds = std::numeric_limits<std::int32_t>::max();
    Globals& g = w_.g;
    g.ValveRotations = NumericValue(settings.GetIniValue(kSection, "Rotations")) +
                       static_cast<double>(g.CurValveFreq) * static_cast<double>(seconds);
    settings.WriteIniValue(kSection, "Rotations", SignedForm(g.ValveRotations));
    w_.setKelmgraphic(g.ValveRotations);
}

}  // namespace dervix
