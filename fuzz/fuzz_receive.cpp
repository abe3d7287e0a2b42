// The serial conversation under arbitrary input: the main window's logic on
// fakes, driven by a script the fuzzer writes. Bytes and line events from the
// module, time-outs, requests, operator clicks, the About box's wait loop,
// boxes that stay open while more arrives, and odd saved settings.
//
// Crashes and sanitizer reports aside, it stops on a broken promise: a retry
// count past its limit, an unknown link state, a reply slot over its bound,
// a frame that is not exactly one well-formed frame, or the program ending
// when nothing asked it to.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/Rig.h"

namespace {

using dervix::DeviceLink;
using dervix::test::ProgramEnded;
using dervix::test::Rig;
using dervix::test::ShownBox;
namespace MsgBox = dervix::MsgBox;

constexpr int kCodes[] = {1, 2, 3, 4, 5, 6, 7, 1001, 1002, 1003, 1004, 1006, 1007, 1008, 1009, 1010, 1011};
const char* const kRequests[] = {"START", "STOP", "STATUS", "MODEL", "ID", "CHECK", "TEST",
                                 "HOME",  "LOAD", " 12",    "start", "7",  "F",  "KILL"};
const char* const kSettings[] = {"FlowRate", "SplitMult", "SplitCode", "Rotations", "KelmRed",  "KelmYellow",
                                 "Running",  "FormTop",   "FormLeft",  "Settings",  "CommPort", "ModuleID"};
constexpr int kMaxSteps = 3000;

[[noreturn]] void Broken(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "broken: %s %s\n", what, detail.c_str());
    std::abort();
}

class Script {
public:
    Script(Rig& rig, FuzzedDataProvider& in) : rig_(rig), in_(in) {}

    // Runs until the input is used up; false when the program ended.
    void run() {
        // Silence must end the About box's wait even when the script is over.
        rig_.pump.onServe = [this] {
            if (in_.remaining_bytes() == 0 || steps_ >= kMaxSteps) rig_.timer.fire();
            else step();
        };
        while (in_.remaining_bytes() > 0 && steps_ < kMaxSteps) step();
    }

    bool cancelled() const { return cancelled_; }

private:
    void step() {
        ++steps_;
        switch (in_.ConsumeIntegralInRange<int>(0, 14)) {
        case 0: deliver(in_.ConsumeRandomLengthString(300)); break;
        case 1: deliver(reply()); break;
        case 2: rig_.serial.raise(in_.ConsumeBool() ? in_.PickValueInArray(kCodes) : in_.ConsumeIntegral<int>()); break;
        case 3: rig_.timer.fire(); break;
        case 4:
            for (int i = 0; i < 16; ++i) rig_.timer.fire();
            break;
        case 5: rig_.w->txtDVXScmd.setText(request()); break;
        case 6: rig_.w->cmdStart.click(); break;
        case 7: rig_.serial.opened = !rig_.serial.opened; break;
        case 8: answerNextBox(); break;
        case 9: rig_.pump.runPosted(); break;
        case 10: rig_.w->txtFlowRate.setText(in_.ConsumeRandomLengthString(24)); break;
        case 11: rig_.w->vaSplit.pick(in_.ConsumeIntegralInRange<int>(-1, 8), in_.ConsumeIntegralInRange<int>(-1, 25)); break;
        case 12: rig_.w->cmdSetSplit.click(); break;
        case 13: rig_.clock.advance(std::chrono::milliseconds(in_.ConsumeIntegralInRange<int>(0, 200'000'000))); break;
        case 14:
            if (in_.ConsumeBool()) rig_.w->mnuAbout_Click();
            else rig_.w->mnuKelm_Click();
            break;
        }
        check();
        // What the fakes keep for tests would only grow here.
        if (rig_.serial.frames.size() > 64) {
            rig_.serial.frames.clear();
            framesChecked_ = 0;
        }
        rig_.logFile.lines.clear();
        rig_.dialogs.boxes.clear();
    }

    std::string reply() {
        const std::string address = hex(rig_.w->g.ModuleAddress);
        switch (in_.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: return "G" + address + "\r\n";
        case 1: return "G" + address + in_.ConsumeRandomLengthString(16) + "\r\n";
        case 2: return "g" + address + "READY\r\n";
        case 3: return "\r\n";
        default: return in_.ConsumeRandomLengthString(16) + "\r\n";
        }
    }

    std::string request() {
        return in_.ConsumeBool() ? std::string(in_.PickValueInArray(kRequests)) : in_.ConsumeRandomLengthString(20);
    }

    void deliver(const std::string& bytes) { rig_.serial.deliver(bytes); }

    // The next box the program opens is answered, after a few steps taken
    // while it is open.
    void answerNextBox() {
        const int during = in_.ConsumeIntegralInRange<int>(0, 3);
        const int result = in_.PickValueInArray({MsgBox::ResultOk, MsgBox::ResultRetry, MsgBox::ResultCancel});
        rig_.dialogs.answers.push_back([this, during, result](const ShownBox&) {
            for (int i = 0; i < during && in_.remaining_bytes() > 0 && steps_ < kMaxSteps; ++i) step();
            if (result == MsgBox::ResultCancel) cancelled_ = true;
            return result;
        });
    }

    void check() {
        const dervix::Globals& g = rig_.w->g;
        if (g.RetryCount > 15) Broken("retry count", std::to_string(g.RetryCount));
        if (g.LinkState != dervix::kReady && g.LinkState != dervix::kWaiting) Broken("link state", g.LinkState);
        if (rig_.w->DervixResp.text().size() > DeviceLink::kMaxPendingReply) Broken("reply slot over its bound");
        const std::string head = "G" + hex(g.ModuleAddress);
        for (; framesChecked_ < rig_.serial.frames.size(); ++framesChecked_) {
            const std::string& frame = rig_.serial.frames[framesChecked_];
            // One frame per write: the text of a request can never end it
            // early or start another.
            const bool wellFormed = frame.size() > head.size() + 2 && frame.compare(0, head.size(), head) == 0 &&
                                    frame.find('\r') == frame.size() - 2 && frame.find('\n') == frame.size() - 1;
            if (!wellFormed) Broken("frame", frame);
        }
    }

    static std::string hex(unsigned value) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "%X", value);
        return buffer;
    }

    Rig& rig_;
    FuzzedDataProvider& in_;
    int steps_ = 0;
    std::size_t framesChecked_ = 0;
    bool cancelled_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Rig rig;
    rig.configure(std::to_string(in.ConsumeIntegralInRange<int>(0, 15)));
    if (in.ConsumeBool()) rig.profile.write("Dervix", "Logging", "1");
    // Saved settings as a hand-edited profile may hold them.
    while (in.ConsumeBool()) rig.profile.write("Dervix", in.PickValueInArray(kSettings), in.ConsumeRandomLengthString(24));

    try {
        rig.w->Form_Load();
    } catch (const ProgramEnded&) {
        return 0;  // a start-up that cannot go on ends the program
    }
    Script script(rig, in);
    try {
        script.run();
    } catch (const ProgramEnded&) {
        if (rig.w->g.CurrentCommand != "KILL" && !script.cancelled()) Broken("the program ended unasked");
    }
    return 0;
}
