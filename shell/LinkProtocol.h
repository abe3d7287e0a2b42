#pragma once
// The link through which another program reads the main window's fields and
// sets the text of its text fields: one request line in, one answer out.
//
//   REQUEST <item>          ->  OK <text>
//   POKE <item> <text>      ->  OK            (after the change was handled)
//   WATCH <item>            ->  OK <text>     (the text now; then each new text
//                                              as "CHANGED <item> <text>")
//   UNWATCH <item>          ->  OK
//   anything else           ->  ERR <reason>  (and nothing changes)
//
// Lines are UTF-8. In texts, backslash, CR and LF are written \\, \r and \n,
// and every other control character (U+0000 to U+001F, U+007F to U+009F) as
// \x and two hexadecimal digits (\x1B for ESC), so that a text shown on a
// terminal cannot steer it. \xHH stands for U+00HH in a request as well; a
// control character sent as it is (a tab, say) is taken as it is.
//
// Watched texts longer than kPacedTextBytes (noise on the module's line, a
// long poke) are sent at no more than kPacedBytesPerSecond: after one of n
// bytes the next waits n / kPacedBytesPerSecond seconds. Meanwhile only the
// latest text of an item waits, and a shorter one goes at once in its place.
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace dervix {

class FrmDervix;
class OneShotTimer;
class TextSlot;
struct LinkWatchList;

// The items by control name: the main window's text fields and labels. A
// request may name one in any letter case.
inline constexpr std::array<std::string_view, 5> kLinkItems{"txtFlowRate", "txtDVXScmd", "DervixResp", "Label3",
                                                            "Label5"};

// UTF-8 text with backslash, CR, LF and the other control characters
// escaped as above; every other byte as is.
std::string LinkEscape(std::string_view text);
// The same for a Latin-1 text; the result is Latin-1 as well.
std::string LinkEscapeLatin1(std::string_view latin1);
// The reverse of LinkEscape; nullopt for any other escape, a \x without two
// hexadecimal digits, or a backslash at the end.
std::optional<std::string> LinkUnescape(std::string_view text);

// Whether text is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing past U+10FFFF).
bool IsValidUtf8(std::string_view text);
// The logic's texts are single-byte Latin-1. nullopt when text is not valid
// UTF-8 or holds a character above U+00FF.
std::optional<std::string> Utf8ToLatin1(std::string_view text);
std::string Latin1ToUtf8(std::string_view text);

// A client that watches items: told of each new text of an item it watches
// at once, inside the call that changed the text, so it must neither wait nor
// change a control. Its watches end when it goes, and when the protocol does.
class LinkWatcher {
public:
    LinkWatcher() = default;
    virtual ~LinkWatcher() { endWatches(); }
    LinkWatcher(const LinkWatcher&) = delete;
    LinkWatcher& operator=(const LinkWatcher&) = delete;

    // item is one of kLinkItems; line is "CHANGED <item> <text>" without its LF.
    virtual void changed(std::string_view item, const std::string& line) = 0;
    // The client has stopped watching item: a change of it still waiting to
    // go is no longer wanted.
    virtual void unwatched(std::string_view item) { (void)item; }

    bool watching() const { return items_ != 0; }
    void endWatches();

private:
    friend class LinkProtocol;
    friend struct LinkWatchList;
    std::weak_ptr<LinkWatchList> list_;
    unsigned items_ = 0;  // one bit per item of kLinkItems
};

class LinkProtocol {
public:
    // Longest request line, without its LF, and the answer to a longer one.
    static constexpr std::size_t kMaxLine = 4096;
    static constexpr std::string_view kLineTooLong = "ERR line too long";

    // Watched texts up to this long go at once, whatever the pace: a reply of
    // the module, a flow rate, a caption.
    static constexpr std::size_t kPacedTextBytes = 32;
    static constexpr std::size_t kPacedBytesPerSecond = 16384;

    // Follows the window's items from now on; one protocol per window.
    // pacer, when given, spaces out long texts for the watchers; without it
    // every new text goes at once.
    explicit LinkProtocol(FrmDervix& w, OneShotTimer* pacer = nullptr);
    ~LinkProtocol();
    LinkProtocol(const LinkProtocol&) = delete;
    LinkProtocol& operator=(const LinkProtocol&) = delete;

    // line without its LF (a CR before the LF is allowed); the answer
    // without its LF. A POKE runs the field's change handler before this
    // returns, so it may open boxes and serve events meanwhile, and handle()
    // may then be entered again for another request. WATCH and UNWATCH act
    // for client; without one they are refused.
    std::string handle(std::string_view line, LinkWatcher* client = nullptr);

private:
    void paced();
    std::string textOf(std::size_t item) const;
    TextSlot* slotOf(std::size_t item) const;

    FrmDervix& w_;
    std::shared_ptr<LinkWatchList> watches_;
};

}  // namespace dervix
