#pragma once
// The serial conversation with the module: opening the port, the command
// transmitter on the request slot, the receive path and response timer, the
// response interpreter on the response slot, and the Start/Stop button.
#include <cstddef>
#include <memory>
#include <string>

#include "platform/SerialDevices.h"

namespace dervix {

class FrmDervix;
class Settings;

class DeviceLink {
public:
    explicit DeviceLink(FrmDervix& w);
    void wire();  // connects slots, timer, serial notifications and buttons

    // Port setup. OpenPort also ends any watching for a lost device: the
    // caller has decided which device the port stands for.
    std::string OpenPort();
    void SetupSerialCommunications();

    // The port's device went away while open (the port is closed already):
    // watch for the same path to come back and reopen it as the
    // configuration dialog does.
    void lineLost();

    // Handlers.
    void txtDVXScmd_Change();        // the command transmitter
    void MSComm_OnComm(int code);    // the receive path
    void TimerResp_Timer();          // silence
    void DervixResp_Change();        // the response interpreter
    void cmdStart_Click();           // run control

    // The device a port number stands for: the profile's [Ports] ComN entry,
    // else the system's standard port N; empty when there is none.
    static std::string PortDevice(Settings& settings, int portNumber);

    static std::string StripControlChars(const std::string& text);
    static std::string FilterReplyBytes(const std::string& text);

    // What the response slot keeps at most while no complete reply arrives.
    static constexpr std::size_t kMaxPendingReply = 4096;
    // Longer than any reply of the module (a dozen bytes): past it, a slot
    // that ends no reply is noise, and the log shows each received piece of
    // it once instead of the whole slot again with each piece.
    static constexpr std::size_t kWholeSlotLogged = 32;

    // A device that came back but cannot be opened yet is tried again this
    // often, this many times, before the operator is told.
    static constexpr int kReopenRetryMs = 500;
    static constexpr int kReopenRetries = 10;

private:
    // True when the caller goes on with the slot's present text (CHECK).
    bool noResponse();
    void notResponding();
    void applyReply(const std::string& reply);
    void accountRun();
    void sendFailed(const std::string& description);
    // START or STOP sent and not yet answered or given up.
    bool runRequestAwaited() const;
    // Whether a request placed now waits for START's or STOP's reply.
    bool heldBack(const std::string& request) const;
    // Sends the request held back while START or STOP was awaited.
    void sendHeldRequest();
    std::string openPort();
    void reportOpenFailure(const std::string& failure);
    void lookForDevice();

    FrmDervix& w_;
    unsigned sendFailures_ = 0;
    // The latest request placed while START or STOP was awaited.
    std::string heldRequest_;
    // While the time-out box is open, the silence it tells of is not news.
    bool givingUp_ = false;
    // START or STOP placed again because it went unanswered.
    bool resending_ = false;
    // A send found the port closed under it by its device's loss, and the
    // line error that reports the loss has not been handled yet.
    bool lossUntold_ = false;
    // The slot's change being handled is noise the receive path logs itself.
    bool receivedNoise_ = false;

    std::string device_;  // what the port was last opened on
    std::unique_ptr<SerialDevices::Watch> lostWatch_;
    bool deviceSeenAbsent_ = false;
    bool reopenFailureShown_ = false;
    int reopenRetries_ = 0;  // ticks of the reopen timer since the device came back
};

}  // namespace dervix
