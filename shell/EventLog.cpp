#include "shell/EventLog.h"

#include <cstdio>
#include <iostream>
#include <utility>

#include "shell/Settings.h"
#include "shell/TextEscape.h"

namespace dervix {

EventLog::EventLog(Globals& g, Clock& clock, LineFile& file, Dialogs& dialogs, EventPump& pump,
                   const std::string& programFolder, std::string logPath)
    : g_(g),
      clock_(clock),
      file_(file),
      dialogs_(dialogs),
      pump_(pump),
      path_(logPath.empty() ? Settings::GetShortPath(programFolder) + "/Dervix.txt" : std::move(logPath)) {}

std::string EventLog::logPath() const { return path_; }

std::string EventLog::OneLine(std::string_view text) { return EscapeControls(text); }

std::string EventLog::ReplyText(std::string_view text) {
    if (!text.ends_with("\r\n")) return EscapeControls(text);
    return EscapeControls(text.substr(0, text.size() - 2)) + "\r\n";
}

std::string EventLog::Stamp(const LocalTime& t) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int hour = ((t.hour % 24) + 24) % 24;
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
    const int month = (((t.month - 1) % 12) + 12) % 12;  // never outside the table
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%s %02d %04d %02d:%02d:%02d %s: ", kMonths[month], t.day, t.year,
                  hour12, t.minute, t.second, hour < 12 ? "AM" : "PM");
    return buffer;
}

void EventLog::WriteLog(const std::string& text) {
    if (!(g_.LogEnabled > 0)) return;
    const std::string path = logPath();
    std::string error = file_.append(path, Stamp(clock_.toLocal(clock_.now())) + text + "\r\n");
    if (error.empty()) {
        failureReported_ = false;
        return;
    }
    // The log must never stop the program: say so once an outage, keep
    // trying line by line.
    const std::string message = "The event log " + path + " cannot be written: " + error;
    if (!failureReported_) {
        failureReported_ = noticeOwed_ = true;
        std::cerr << "dervix: " << message << std::endl;
    }
    // A disk that comes and goes would otherwise stack a box for each time
    // it went: the operator is told at most once a minute. An outage that
    // began too soon after the last box is still told once the minute has
    // passed, if it lasts: by then it is no flicker.
    if (!noticeOwed_) return;
    const auto now = clock_.now();
    if (lastNotice_ && now >= *lastNotice_ && now - *lastNotice_ < kNoticeSpacing) return;
    noticeOwed_ = false;
    lastNotice_ = now;
    if (holdNotice_) {
        heldNotice_ = message;
        return;
    }
    postNotice(message);
}

void EventLog::postNotice(const std::string& message) {
    // Shown later from the event loop, so a box never opens in the middle of
    // the step that happened to log.
    pump_.post([this, message] {
        dialogs_.messageBox(message + "\rLogging goes on as soon as the file can be written.",
                            MsgBox::Information, kSection);
    });
}

int EventLog::LoggedMsgBox(const std::string& prompt, int flags, const std::string& title,
                           const std::string& /*helpFile*/, int /*helpContext*/) {
    // The box's own event loop would serve a notice posted by its MSGBOX
    // line at once, on top of the box the operator is to read first.
    holdNotice_ = true;
    WriteLog("MSGBOX " + prompt);
    holdNotice_ = false;
    const std::string notice = std::exchange(heldNotice_, std::string());
    const int answer = dialogs_.messageBox(prompt, flags, title);
    if (!notice.empty()) postNotice(notice);
    return answer;
}

}  // namespace dervix
