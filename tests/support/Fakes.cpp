#include "support/Fakes.h"

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
    std::time_t seconds = std::chrono::system_clock::to_time_t(t) + offsetSeconds;
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, offsetSeconds};
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

}  // namespace dervix::test
