#pragma once
// Stand-ins for everything outside the logic, so tests drive retries,
// time-outs and 90-second runs in microseconds.
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/ProfileStore.h"
#include "platform/SerialDevices.h"
#include "platform/SerialPort.h"
#include "platform/System.h"
#include "platform/Timer.h"

namespace dervix::test {

// Thrown where the real program would end at once.
struct ProgramEnded : std::runtime_error {
    ProgramEnded() : std::runtime_error("program ended") {}
};

class FakeSerialPort : public SerialPort {
public:
    Result setDevice(const std::string& path) override;
    Result setLineSettings(const LineSettings& s) override;
    Result setNoHandshaking() override { return std::nullopt; }
    Result setDtr(bool on) override { dtr = on; return std::nullopt; }
    Result setBufferSizes(int in, int out) override { inSize = in; outSize = out; return std::nullopt; }
    Result open() override;
    bool isOpen() const override { return opened; }
    void close() override { opened = false; }
    Result discardBuffers() override;
    Result write(const std::string& bytes) override;
    std::string readAll() override;
    void setNotificationHandler(std::function<void(int)> h) override { handler = std::move(h); }

    // Bytes arrive from the module; one receive notification.
    void deliver(const std::string& bytes);
    // A notification with any other code.
    void raise(int code);

    std::vector<std::string> frames;  // what was written, frame by frame
    std::string device;
    LineSettings line;
    bool dtr = false;
    int inSize = 0, outSize = 0;
    bool opened = false;
    int discards = 0;
    std::string pending;  // received, not yet read
    std::optional<SerialError> failOpen;
    std::optional<SerialError> failWrite;
    // A write meets the device's loss: the port closes before it fails, and
    // the line error is the test's to raise.
    bool goneAtWrite = false;
    std::function<void(int)> handler;
};

// The computer's serial devices as a test sets them; plug() and unplug()
// tell every live watch, as the event loop would.
class FakeSerialDevices : public SerialDevices {
public:
    std::vector<SerialDeviceInfo> present() override { return devices; }
    std::string resolve(const std::string& path) override;
    std::unique_ptr<Watch> watch(const std::string& devicePath, std::function<void()> onChange) override;

    // A device node appears (with the other paths that reach it) or goes.
    void plug(const SerialDeviceInfo& device, std::vector<std::string> alsoReachedBy = {});
    void unplug(const std::string& path);
    void notify();

    std::vector<SerialDeviceInfo> devices;
    std::map<std::string, std::string> reach;  // path -> the node it reaches now
    std::vector<std::string> watchedPaths;      // devicePath of each watch() call
    int liveWatches = 0;

private:
    struct Listener {
        int id;
        std::function<void()> onChange;
    };
    std::vector<Listener> listeners_;
    int nextId_ = 0;
};

class FakeTimer : public OneShotTimer {
public:
    void setInterval(int ms) override { intervalMs = ms; }
    int interval() const override { return intervalMs; }
    void start() override { active = true; ++starts; }
    void stop() override { active = false; }
    bool isActive() const override { return active; }
    void setHandler(std::function<void()> h) override { handler = std::move(h); }
    // The interval has passed.
    void fire();

    int intervalMs = 0;
    bool active = false;
    int starts = 0;
    std::function<void()> handler;
};

// Keeps the profile as file text, so the real reading and editing rules apply.
class FakeProfileStore : public ProfileStore {
public:
    std::optional<std::string> read(const std::string& section, const std::string& key) override;
    bool write(const std::string& section, const std::string& key, const std::string& value) override;
    std::string get(const std::string& key) { return read("Dervix", key).value_or(""); }
    bool has(const std::string& key) { return read("Dervix", key).has_value(); }

    std::string content;
    std::vector<std::string> writes;  // "key=value" in order
    bool failWrites = false;          // every write fails and changes nothing
};

class FakeLineFile : public LineFile {
public:
    std::string append(const std::string& path, const std::string& bytes) override;
    std::vector<std::string> lines;  // as written, with their CR LF
    std::string lastPath;
    std::string failure;  // non-empty: every append fails with it
};

struct ShownBox {
    std::string prompt;
    int flags;
    std::string title;
};

class FakeDialogs : public Dialogs {
public:
    int messageBox(const std::string& prompt, int flags, const std::string& title) override;
    std::optional<std::string> inputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override;
    void beep() override { ++beeps; }

    std::vector<ShownBox> boxes;
    // Answers in order; each may act "while the box is open". When none is
    // left a box answers OK (or Retry for Retry/Cancel boxes).
    std::deque<std::function<int(const ShownBox&)>> answers;
    std::deque<std::optional<std::string>> inputs;
    std::vector<std::string> inputPrompts;
    std::vector<std::string> inputTitles;
    int beeps = 0;
};

class FakeClock : public Clock {
public:
    std::chrono::system_clock::time_point now() const override { return current; }
    LocalTime toLocal(std::chrono::system_clock::time_point t) const override;
    void advance(std::chrono::milliseconds ms) { current += ms; }

    std::chrono::system_clock::time_point current{std::chrono::seconds(1796594405)};  // 2026-12-06 22:00:05 UTC
    int offsetSeconds = 0;
};

class FakeEventPump : public EventPump {
public:
    void serveEvents() override;
    void post(std::function<void()> work) override { posted.push_back(std::move(work)); }
    void runPosted();

    std::function<void()> onServe;  // what "arrives" while events are served
    std::deque<std::function<void()>> posted;
    int serves = 0;
};

class FakeScreen : public Screen {
public:
    ScreenSize size() const override { return screen; }
    ScreenSize screen{19200, 11520};
};

class FakeBadge : public MenuBadge {
public:
    bool menuValid() const override { return valid; }
    void show(const std::string& key) override { shown.push_back(key); }
    void describe(const std::string& text) override { descriptions.push_back(text); }
    bool valid = true;
    std::vector<std::string> shown;
    std::vector<std::string> descriptions;
};

class FakeProcess : public Process {
public:
    [[noreturn]] void terminate() override;
    int terminations = 0;
};

}  // namespace dervix::test
