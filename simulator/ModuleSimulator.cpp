#include "simulator/ModuleSimulator.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace dervix::sim {

namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string ModuleSimulator::addressPrefix() const {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "G%X", static_cast<unsigned>(address_));
    return buffer;
}

void ModuleSimulator::setSplitPieces(int pieces, int gapMs) {
    pieces_ = std::clamp(pieces, 1, 64);
    gapMs_ = std::max(gapMs, 0);
}

FeedResult ModuleSimulator::feed(const std::string& bytes) {
    FeedResult result;
    for (char c : bytes) {
        line_.push_back(c);
        if (line_.size() >= 2 && line_[line_.size() - 2] == '\r' && c == '\n') {
            std::string frame = line_.substr(0, line_.size() - 2);
            line_.clear();
            result.frames.push_back(frame);
            // The address decides before the body is looked at: the hex
            // digits A-F of an address are also command letters, and only an
            // exact prefix plus a whole known body is ours.
            const std::string prefix = addressPrefix();
            if (frame.compare(0, prefix.size(), prefix) != 0) continue;
            // A silent module is switched off: it neither answers nor acts.
            if (silent_) continue;
            const std::optional<Reply> reply = answer(frame.substr(prefix.size()));
            if (!reply) continue;
            ++framesAnswered_;
            std::string head = prefix;
            if (lowercaseCheck_ && frame.substr(prefix.size()) == "%") head[0] = 'g';
            schedule(head + reply->payload + "\r\n", reply->delayMs + extraDelayMs_, result.emissions);
        } else if (line_.size() > kMaxLine) {
            line_.clear();
        }
    }
    std::stable_sort(result.emissions.begin(), result.emissions.end(),
                     [](const Emission& a, const Emission& b) { return a.delayMs < b.delayMs; });
    return result;
}

std::optional<ModuleSimulator::Reply> ModuleSimulator::answer(const std::string& body) {
    if (body == "C") {
        valveRunning_ = true;
        return Reply{"C", replyDelayMs_};
    }
    if (body == "D") {
        valveRunning_ = false;
        return Reply{"D", replyDelayMs_};
    }
    if (body == "S") return Reply{valveRunning_ ? "RUNNING" : "READY", replyDelayMs_};
    if (body == "T") return Reply{kModel, replyDelayMs_};
    if (body == "%") return Reply{kIdentity, replyDelayMs_};
    if (body == "B") {
        // The self-test takes the valve through its positions: it ends stopped.
        valveRunning_ = false;
        return Reply{"B", kSelfTestMs};
    }
    if (body == "H") return Reply{"H", kHomeMs};
    if (body.size() >= 2 && body.size() <= 4 && body[0] == 'F' && AllDigits(body.substr(1))) {
        const int code = std::stoi(body.substr(1));
        if (code > 255) return std::nullopt;
        splitCode_ = code;
        return Reply{body, replyDelayMs_};
    }
    return std::nullopt;
}

std::string ModuleSimulator::addStrayBytes(const std::string& reply) {
    // Strays go anywhere before the final byte, which becomes 254: the
    // program reads 254 as LF and drops 15 and 225 wherever they stand.
    std::string body = reply.substr(0, reply.size() - 1);
    const unsigned turn = strayTurn_++;
    body.insert(turn % (body.size() + 1), 1, static_cast<char>(15));
    body.insert((turn * 7 + 3) % (body.size() + 1), 1, static_cast<char>(225));
    body.push_back(static_cast<char>(254));
    return body;
}

void ModuleSimulator::schedule(const std::string& reply, int delayMs, std::vector<Emission>& out) {
    const std::string bytes = stray_ ? addStrayBytes(reply) : reply;
    const std::size_t pieces = std::min<std::size_t>(static_cast<std::size_t>(pieces_), bytes.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i < pieces; ++i) {
        const std::size_t end = bytes.size() * (i + 1) / pieces;
        out.push_back({delayMs + static_cast<int>(i) * gapMs_, bytes.substr(start, end - start)});
        start = end;
    }
}

}  // namespace dervix::sim
