// What the module sends back, line trouble, and silence.
#include <optional>
#include <string>

#include "devicelink/DeviceLink.h"
#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

namespace {

const char* ErrorText(int code) {
    switch (code) {
        case CommEvent::CtsTimeout: return "CTS Timeout";
        case CommEvent::DsrTimeout: return "DSR Timeout";
        case CommEvent::Frame: return "Framing Error";
        case CommEvent::Overrun: return "Overrun Error";
        case CommEvent::CdTimeout: return "Carrier Detect Timeout";
        case CommEvent::RxOver: return "Receive Buffer Overflow";
        case CommEvent::RxParity: return "Parity Error";
        case CommEvent::TxFull: return "Transmit Buffer Full";
        case CommEvent::Dcb: return "Error retrieving DCB";
        default: return nullptr;
    }
}

bool EndsReply(const std::string& text) { return DeviceLink::FilterReplyBytes(text).ends_with("\r\n"); }

}  // namespace

void DeviceLink::MSComm_OnComm(int code) {
    std::string eventText;
    std::string errorText;
    // What this notification added to a slot that holds noise, and the
    // slot's oldest bytes it pushed out.
    std::optional<std::string> noise;
    std::size_t dropped = 0;
    if (code == CommEvent::Send) {
        // nothing but the log line
    } else if (code == CommEvent::Receive) {
        std::string arrived = w_.platform.serial.readAll();
        if (!arrived.empty()) {
            std::string text = w_.DervixResp.text() + arrived;
            // A line that streams without ever ending a reply must not grow
            // the slot for ever; the tail is what can still end a reply.
            if (text.size() > kMaxPendingReply) {
                dropped = text.size() - kMaxPendingReply;
                text.erase(0, dropped);
            }
            // Logged whole with each piece, noise would cost the log the
            // square of its length: each piece of it is logged once, here.
            if (text.size() > kWholeSlotLogged && !EndsReply(text))
                noise = arrived.size() > text.size() ? arrived.substr(arrived.size() - text.size()) : arrived;
            else if (dropped > 0)
                w_.log.WriteLog("Receive - overflow, bytes dropped:" + SignedForm(static_cast<double>(dropped)));
            receivedNoise_ = noise.has_value();
            w_.DervixResp.setText(std::move(text));
            receivedNoise_ = false;
        }
    } else if (code == CommEvent::CtsChange) {
        eventText = "Change in CTS Detected";
    } else if (code == CommEvent::DsrChange) {
        eventText = "Change in DSR Detected";
    } else if (const char* error = ErrorText(code)) {
        errorText = error;
    } else {
        w_.log.WriteLog("MScomm_OnComm - Unknown error or event : " + SignedForm(code));
    }
    const std::string& held = w_.DervixResp.text();
    std::string shown = EventLog::OneLine(held);
    if (noise && held.size() > kWholeSlotLogged) {
        shown = "(" + std::to_string(held.size()) + " bytes" +
                (dropped > 0 ? ", " + std::to_string(dropped) + " dropped" : std::string()) + ") +" +
                EventLog::OneLine(*noise);
    }
    w_.log.WriteLog("Receive - RSP=[" + shown + "] ERR=[" + errorText + "] EVN=[" + eventText + "]");
    if (eventText.empty() && !errorText.empty()) {
        // The device went away and the port is closed: watched for before
        // the boxes that follow, which must not hold back its reopening.
        if (!w_.platform.serial.isOpen()) {
            lossUntold_ = false;
            lineLost();
        }
        w_.platform.dialogs.beep();
        w_.DervixResp.setText("NO RESPONSE");
    }
}

void DeviceLink::TimerResp_Timer() {
    w_.platform.timer.stop();
    w_.DervixResp.setText("NO RESPONSE");
}

}  // namespace dervix
