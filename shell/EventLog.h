#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Dialogs.h"
#include "platform/System.h"
#include "shell/Globals.h"

namespace dervix {

class EventLog {
public:
    // logPath names the log file; empty means Dervix.txt in programFolder.
    EventLog(Globals& g, Clock& clock, LineFile& file, Dialogs& dialogs, EventPump& pump,
             const std::string& programFolder, std::string logPath = {});

    // One time-stamped line in the log file when logging is on.
    void WriteLog(const std::string& text);
    // Logs "MSGBOX " + prompt, then shows the box; returns the button pressed.
    int LoggedMsgBox(const std::string& prompt, int flags, const std::string& title,
                     const std::string& helpFile = {}, int helpContext = 0);

    // A text from outside (a request, the module's bytes) as the log shows
    // it: on its own line, with no control character of its own; backslash,
    // CR and LF written \\, \r, \n, every other control character \xHH
    // (TextEscape.h), as the link writes them.
    static std::string OneLine(std::string_view text);
    // The same for what the module sent: the CR LF that ends a reply is kept
    // as it is and ends the line, as the module wrote it.
    static std::string ReplyText(std::string_view text);

    std::string logPath() const;
    // "Dec 06 2026 10:18:05 PM: " for the given moment.
    static std::string Stamp(const LocalTime& t);

private:
    Globals& g_;
    Clock& clock_;
    LineFile& file_;
    Dialogs& dialogs_;
    EventPump& pump_;
    std::string path_;
    bool failureReported_ = false;  // this outage has been told on standard error
    static constexpr std::chrono::minutes kNoticeSpacing{1};
    std::optional<std::chrono::system_clock::time_point> lastNotice_;
    // This outage's box is still to come: held back by the spacing, it is
    // shown with the first line that fails once the spacing has passed.
    bool noticeOwed_ = false;
    // While a message box's own line is written: its notice waits for the box.
    bool holdNotice_ = false;
    std::string heldNotice_;

    void postNotice(const std::string& message);
};

}  // namespace dervix
