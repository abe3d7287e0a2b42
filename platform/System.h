#pragma once
// Small services of the desktop that the logic asks for: time, the screen,
// serving pending events, the menu-bar badge, ending the program.
#include <chrono>
#include <functional>
#include <string>

namespace dervix {

struct LocalTime {
    int year = 1970, month = 1, day = 1;  // month 1..12
    int hour = 0, minute = 0, second = 0;
    int utcOffsetSeconds = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;
    virtual LocalTime toLocal(std::chrono::system_clock::time_point t) const = 0;
};

class EventPump {
public:
    virtual ~EventPump() = default;
    // Serves pending events, waiting for at least one when none is pending.
    virtual void serveEvents() = 0;
    // Runs work later from the event loop, after the current handler.
    virtual void post(std::function<void()> work) = 0;
};

struct ScreenSize {
    int widthTwips = 0;
    int heightTwips = 0;
};

class Screen {
public:
    virtual ~Screen() = default;
    virtual ScreenSize size() const = 0;
};

class MenuBadge {
public:
    virtual ~MenuBadge() = default;
    virtual bool menuValid() const = 0;
    // key is one of "kelm-g", "kelm-y", "kelm-r".
    virtual void show(const std::string& imageKey) = 0;
    // What a screen reader says of the badge, which itself shows only a colour.
    virtual void describe(const std::string& text) = 0;
};

class Process {
public:
    virtual ~Process() = default;
    // Ends the program at once: no window closing steps run. Never returns.
    [[noreturn]] virtual void terminate() = 0;
};

// Appends one line to a text file, opening and closing it each time.
class LineFile {
public:
    virtual ~LineFile() = default;
    // Returns an empty text on success, else why it failed.
    virtual std::string append(const std::string& path, const std::string& bytes) = 0;
};

}  // namespace dervix
