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
// Lines are UTF-8; in texts, backslash, CR and LF are written \\, \r, \n.
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace dervix {

class FrmDervix;
class TextSlot;
struct LinkWatchList;

// The items by control name: the main window's text fields and labels. A
// request may name one in any letter case.
inline constexpr std::array<std::string_view, 5> kLinkItems{"txtFlowRate", "txtDVXScmd", "DervixResp", "Label3",
                                                            "Label5"};

// Backslash, CR and LF written as \\, \r and \n; every other byte as is.
std::string LinkEscape(std::string_view text);
// The reverse; nullopt for any other escape or a backslash at the end.
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
    // Longest request line, without its LF.
    static constexpr std::size_t kMaxLine = 4096;

    // Follows the window's items from now on; one protocol per window.
    explicit LinkProtocol(FrmDervix& w);
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
    std::string textOf(std::size_t item) const;
    TextSlot* slotOf(std::size_t item) const;

    FrmDervix& w_;
    std::shared_ptr<LinkWatchList> watches_;
};

}  // namespace dervix
