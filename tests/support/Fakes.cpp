#include "support/Fakes.h"

#include <algorithm>
#include <ctime>

#include "shell/IniText.h"

namespace dervix::test {

SerialPort::Result FakeSerialPort::setDevice(const std::string& path) {
    device = path;
    return std::nullopt;
}

SerialPort::Result FakeSerialPort::setLineSettings(const LineSettings& s) {
    line = s;
    return std::nullopt;
}

SerialPort::Result FakeSerialPort::open() {
    if (failOpen) return failOpen;
    if (opened) return SerialError{8005, "Port already open"};
    opened = true;
    return std::nullopt;
}

SerialPort::Result FakeSerialPort::discardBuffers() {
    if (!opened) return SerialError{8018, "Operation valid only when the port is open"};
    ++discards;
    pending.clear();
    return std::nullopt;
}

SerialPort::Result FakeSerialPort::write(const std::string& bytes) {
    if (!opened) return SerialError{8018, "Operation valid only when the port is open"};
    if (failWrite) return failWrite;
    if (goneAtWrite) {
        opened = false;
        return SerialError{8104, "Input/output error"};
    }
    frames.push_back(bytes);
    return std::nullopt;
}

std::string FakeSerialPort::readAll() {
    std::string out;
    out.swap(pending);
    return out;
}

void FakeSerialPort::deliver(const std::string& bytes) {
    pending += bytes;
    if (handler) handler(CommEvent::Receive);
}

void FakeSerialPort::raise(int code) {
    if (handler) handler(code);
}

void FakeTimer::fire() {
    if (!active) return;
    active = false;
    if (handler) handler();
}

std::optional<std::string> FakeProfileStore::read(const std::string& section, const std::string& key) {
    return IniLookup(content, section, key);
}

bool FakeProfileStore::write(const std::string& section, const std::string& key, const std::string& value) {
    if (failWrites) return false;
    content = IniUpdate(content, section, key, value);
    writes.push_back(key + "=" + value);
    return true;
}

std::string FakeLineFile::append(const std::string& path, const std::string& bytes) {
    lastPath = path;
    if (!failure.empty()) return failure;
    lines.push_back(bytes);
    return {};
}

int FakeDialogs::messageBox(const std::string& prompt, int flags, const std::string& title) {
    boxes.push_back({prompt, flags, title});
    if (!answers.empty()) {
        auto answer = std::move(answers.front());
        answers.pop_front();
        // A copy: an answer that acts while the box is open may open more
        // boxes, and the list then moves in memory.
        const ShownBox shown = boxes.back();
        return answer(shown);
    }
    return (flags & 7) == MsgBox::RetryCancel ? MsgBox::ResultRetry : MsgBox::ResultOk;
}

std::optional<std::string> FakeDialogs::inputBox(const std::string& prompt, const std::string& title,
                                                const std::string&) {
    inputPrompts.push_back(prompt);
    inputTitles.push_back(title);
    if (inputs.empty()) return std::nullopt;
    auto answer = inputs.front();
    inputs.pop_front();
    return answer;
}

LocalTime FakeClock::toLocal(std::chrono::system_clock::time_point t) const {
    using namespace std::chrono;
    const auto local = floor<seconds>(t) + seconds(offsetSeconds);
    const auto day = floor<days>(local);
    const year_month_day date{day};
    const hh_mm_ss time{local - day};
    return {int(date.year()), int(unsigned(date.month())), int(unsigned(date.day())), int(time.hours().count()),
            int(time.minutes().count()), int(time.seconds().count()), offsetSeconds};
}

void FakeEventPump::serveEvents() {
    ++serves;
    if (onServe) onServe();
    runPosted();
}

void FakeEventPump::runPosted() {
    while (!posted.empty()) {
        auto work = std::move(posted.front());
        posted.pop_front();
        work();
    }
}

void FakeProcess::terminate() {
    ++terminations;
    throw ProgramEnded();
}

std::string FakeSerialDevices::resolve(const std::string& path) {
    auto it = reach.find(path);
    return it == reach.end() ? std::string() : it->second;
}

std::unique_ptr<SerialDevices::Watch> FakeSerialDevices::watch(const std::string& devicePath,
                                                               std::function<void()> onChange) {
    class Handle : public Watch {
    public:
        Handle(FakeSerialDevices& owner, int id) : owner_(owner), id_(id) { ++owner_.liveWatches; }
        ~Handle() override {
            --owner_.liveWatches;
            std::erase_if(owner_.listeners_, [this](const Listener& l) { return l.id == id_; });
        }

    private:
        FakeSerialDevices& owner_;
        int id_;
    };
    watchedPaths.push_back(devicePath);
    listeners_.push_back({nextId_, std::move(onChange)});
    return std::make_unique<Handle>(*this, nextId_++);
}

void FakeSerialDevices::plug(const SerialDeviceInfo& device, std::vector<std::string> alsoReachedBy) {
    devices.push_back(device);
    reach[device.path] = device.path;
    if (!device.byIdPath.empty()) reach[device.byIdPath] = device.path;
    for (const std::string& path : alsoReachedBy) reach[path] = device.path;
    notify();
}

void FakeSerialDevices::unplug(const std::string& path) {
    std::erase_if(devices, [&path](const SerialDeviceInfo& d) { return d.path == path; });
    std::erase_if(reach, [&path](const auto& entry) { return entry.second == path; });
    notify();
}

void FakeSerialDevices::notify() {
    // A listener may end its own or another's watch while it runs.
    std::vector<int> ids;
    for (const Listener& l : listeners_) ids.push_back(l.id);
    for (int id : ids) {
        auto it = std::find_if(listeners_.begin(), listeners_.end(), [id](const Listener& l) { return l.id == id; });
        if (it == listeners_.end()) continue;
        std::function<void()> onChange = it->onChange;
        onChange();
    }
}

}  // namespace dervix::test
