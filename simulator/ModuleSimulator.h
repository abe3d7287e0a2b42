#pragma once
// Plays the flow-splitter module on the other end of the serial line, so the
// program can be tried and tested without hardware. It only decides what to
// answer and when; whoever hosts it (a pseudo-terminal, a test) moves the
// bytes and keeps the time.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dervix::sim {

// Bytes to send once delayMs have passed since the frame that caused them
// was fed in.
struct Emission {
    int delayMs = 0;
    std::string bytes;
};

// What the module does with the frames of one chunk of received bytes.
struct FeedResult {
    std::vector<std::string> frames;   // every whole frame seen, without CR LF
    std::vector<Emission> emissions;   // in the order they are due
};

class ModuleSimulator {
public:
    static constexpr int kDefaultReplyDelayMs = 3;
    static constexpr int kSelfTestMs = 3000;
    static constexpr int kHomeMs = 1000;
    static constexpr int kDefaultSplitGapMs = 5;
    // A line this long without CR LF is noise, not a frame.
    static constexpr std::size_t kMaxLine = 256;

    inline static const std::string kModel = "DVX-23";
    inline static const std::string kIdentity = "SN 40213";

    // Feeds bytes as they came off the line; frames may span chunks.
    FeedResult feed(const std::string& bytes);
    // True while part of a frame has been received.
    bool midFrame() const { return !line_.empty(); }

    void setAddress(int address) { address_ = address; }
    int address() const { return address_; }
    std::string addressPrefix() const;  // "G" + address in upper-case hex

    // State of the module.
    bool valveRunning() const { return valveRunning_; }
    int splitCode() const { return splitCode_; }  // -1 until one was set
    std::uint64_t framesAnswered() const { return framesAnswered_; }

    // Faults; each may be switched at any time and applies to later frames.
    void setSilent(bool on) { silent_ = on; }
    void setExtraDelayMs(int ms) { extraDelayMs_ = ms < 0 ? 0 : ms; }
    void setReplyDelayMs(int ms) { replyDelayMs_ = ms < 0 ? 0 : ms; }
    // Replies leave in this many pieces, gapMs apart (1 = whole).
    void setSplitPieces(int pieces, int gapMs = kDefaultSplitGapMs);
    // Adds bytes 15 and 225 and sends 254 for the LF, which the program
    // filters out again, so the reply stays valid.
    void setStrayBytes(bool on) { stray_ = on; }
    // Identity replies (CHECK and ID) begin with "g" instead of "G".
    void setLowercaseCheck(bool on) { lowercaseCheck_ = on; }

    bool silent() const { return silent_; }
    int extraDelayMs() const { return extraDelayMs_; }
    int splitPieces() const { return pieces_; }
    bool strayBytes() const { return stray_; }
    bool lowercaseCheck() const { return lowercaseCheck_; }

private:
    struct Reply {
        std::string payload;
        int delayMs;
    };
    // What the module answers to a frame's body, or nothing for a body it
    // does not know.
    std::optional<Reply> answer(const std::string& body);
    void schedule(const std::string& reply, int delayMs, std::vector<Emission>& out);
    std::string addStrayBytes(const std::string& reply);

    int address_ = 1;
    std::string line_;
    bool valveRunning_ = false;
    int splitCode_ = -1;
    std::uint64_t framesAnswered_ = 0;

    bool silent_ = false;
    int extraDelayMs_ = 0;
    int replyDelayMs_ = kDefaultReplyDelayMs;
    int pieces_ = 1;
    int gapMs_ = kDefaultSplitGapMs;
    bool stray_ = false;
    bool lowercaseCheck_ = false;
    unsigned strayTurn_ = 0;
};

}  // namespace dervix::sim
