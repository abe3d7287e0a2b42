// The link's request lines under arbitrary input, against the main window's
// logic on fakes that has started and heard the module. Between requests
// the module replies or stays silent, and a request may arrive while a box
// opened by an earlier one is still open.
//
// Every answer is one line of valid UTF-8, "OK", "OK <text>" or
// "ERR <reason>"; a refused request changes nothing; a read gives the
// field's text; only "KILL" in the request field ends the program. A client
// that watches items is told every change as one line with the item's text
// of that moment, so what it knows of a watched item is always its text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "shell/LinkProtocol.h"
#include "support/Rig.h"

namespace {

using dervix::LinkProtocol;
using dervix::test::ProgramEnded;
using dervix::test::Rig;
using dervix::test::ShownBox;

const char* const kItems[] = {"txtFlowRate", "txtDVXScmd", "DervixResp", "Label3", "Label5", "Label4", "txtdvxscmd"};
const char* const kVerbs[] = {"REQUEST", "POKE", "WATCH", "UNWATCH", "request", "PEEK", ""};

[[noreturn]] void Broken(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "broken: %s [%s]\n", what, detail.c_str());
    std::abort();
}

// Everything a request could change.
struct Snapshot {
    explicit Snapshot(const Rig& rig)
        : flow(rig.w->txtFlowRate.text()), command(rig.w->txtDVXScmd.text()), response(rig.w->DervixResp.text()),
          label3(rig.w->Label3.caption()), label5(rig.w->Label5.caption()), frames(rig.serial.frames.size()),
          profile(rig.profile.content), current(rig.w->g.CurrentCommand) {}
    bool operator==(const Snapshot&) const = default;
    std::string flow, command, response, label3, label5;
    std::size_t frames;
    std::string profile, current;
};

// The item as listed, for a name in any letter case; else the name itself.
std::string Listed(const std::string& item) {
    for (const std::string_view name : dervix::kLinkItems) {
        if (name.size() != item.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < item.size(); ++i) {
            const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
            same = same && fold(name[i]) == fold(item[i]);
        }
        if (same) return std::string(name);
    }
    return item;
}

std::string ItemText(const Rig& rig, const std::string& item) {
    if (item == "txtFlowRate") return rig.w->txtFlowRate.text();
    if (item == "txtDVXScmd") return rig.w->txtDVXScmd.text();
    if (item == "DervixResp") return rig.w->DervixResp.text();
    if (item == "Label3") return rig.w->Label3.caption();
    return rig.w->Label5.caption();
}

std::optional<std::string> Text(const std::string& escaped) {
    const auto unescaped = dervix::LinkUnescape(escaped);
    return unescaped ? dervix::Utf8ToLatin1(*unescaped) : std::nullopt;
}

// What a watching client knows: the last text it heard of each item it
// watches.
struct Follower : dervix::LinkWatcher {
    explicit Follower(const Rig& r) : rig(r) {}
    void changed(std::string_view item, const std::string& line) override {
        const std::string head = "CHANGED " + std::string(item) + " ";
        if (line.rfind(head, 0) != 0 || line.find_first_of("\r\n") != std::string::npos || !dervix::IsValidUtf8(line))
            Broken("change line", line);
        if (!known.contains(std::string(item))) Broken("change of an item not watched", line);
        const auto text = Text(line.substr(head.size()));
        if (!text || *text != ItemText(rig, std::string(item))) Broken("change gives another text", line);
        known[std::string(item)] = *text;
    }
    const Rig& rig;
    std::map<std::string, std::string> known;
};

class Session {
public:
    Session(Rig& rig, FuzzedDataProvider& in) : rig_(rig), in_(in), protocol_(*rig.w), follower_(rig) {}

    void run() {
        while (in_.remaining_bytes() > 0 && steps_ < 2000) step();
    }

private:
    void step() {
        ++steps_;
        switch (in_.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
        case 1: send(line()); break;
        case 2: {
            // A request arrives while the next box is open.
            const std::string nested = line();
            rig_.dialogs.answers.push_back([this, nested](const ShownBox& box) {
                send(nested);
                return (box.flags & 7) == dervix::MsgBox::RetryCancel ? dervix::MsgBox::ResultRetry
                                                                       : dervix::MsgBox::ResultOk;
            });
            break;
        }
        case 3: rig_.serial.deliver("G1" + in_.ConsumeRandomLengthString(12) + "\r\n"); break;
        case 4: rig_.timer.fire(); break;
        case 5: rig_.pump.runPosted(); break;
        }
        for (const auto& [item, text] : follower_.known)
            if (text != ItemText(rig_, item)) Broken("a watched item changed untold", item);
        rig_.logFile.lines.clear();
        rig_.dialogs.boxes.clear();
        if (rig_.serial.frames.size() > 64) rig_.serial.frames.clear();
    }

    // Mostly well-formed requests with arbitrary texts, sometimes anything.
    std::string line() {
        if (in_.ConsumeIntegralInRange<int>(0, 7) == 0) return in_.ConsumeRandomLengthString(LinkProtocol::kMaxLine + 8);
        std::string verb = in_.PickValueInArray(kVerbs);
        std::string text = verb + " " + in_.PickValueInArray(kItems);
        if (in_.ConsumeBool()) text += " " + in_.ConsumeRandomLengthString(64);
        return text;
    }

    void send(const std::string& request) {
        const Snapshot before(rig_);
        std::string answer;
        try {
            answer = protocol_.handle(request, &follower_);
        } catch (const ProgramEnded&) {
            if (rig_.w->g.CurrentCommand != "KILL") Broken("the program ended unasked", request);
            throw;
        }
        if (answer.find_first_of("\r\n") != std::string::npos) Broken("answer spans lines", answer);
        if (!dervix::IsValidUtf8(answer)) Broken("answer is not UTF-8", answer);
        if (answer.rfind("ERR ", 0) == 0) {
            // A refused request runs no handler, so nothing else ran meanwhile.
            if (!(Snapshot(rig_) == before)) Broken("refused request changed something", request);
            return;
        }
        std::string item = request.substr(request.find(' ') + 1);
        if (!item.empty() && item.back() == '\r') item.pop_back();
        // Named in any letter case; answers and changes name it as listed.
        item = Listed(item);
        if (answer == "OK") {
            if (request.rfind("UNWATCH ", 0) == 0) follower_.known.erase(item);
            else if (request.rfind("POKE ", 0) != 0) Broken("OK without text for", request);
            return;
        }
        const bool watch = request.rfind("WATCH ", 0) == 0;
        if (answer.rfind("OK ", 0) != 0 || (request.rfind("REQUEST ", 0) != 0 && !watch)) Broken("answer", answer);
        const auto text = Text(answer.substr(3));
        if (!text || *text != ItemText(rig_, item)) Broken("read gives another text", answer);
        if (watch) follower_.known[item] = *text;
    }

    Rig& rig_;
    FuzzedDataProvider& in_;
    LinkProtocol protocol_;
    Follower follower_;
    int steps_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);

    // The escapes and the Latin-1 bridge are exact inverses on any bytes.
    const std::string bytes = in.ConsumeRandomLengthString(256);
    if (dervix::LinkUnescape(dervix::LinkEscape(bytes)) != bytes) Broken("escape round trip", bytes);
    if (dervix::Utf8ToLatin1(dervix::Latin1ToUtf8(bytes)) != bytes) Broken("Latin-1 round trip", bytes);
    if (!dervix::IsValidUtf8(dervix::Latin1ToUtf8(bytes))) Broken("Latin-1 gives invalid UTF-8", bytes);

    Rig rig;
    rig.startAndAnswerCheck();
    Session session(rig, in);
    try {
        session.run();
    } catch (const ProgramEnded&) {
    }
    return 0;
}
