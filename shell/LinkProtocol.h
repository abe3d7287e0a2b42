#pragma once
// The link through which another program reads the main window's fields and
// sets the text of its text fields: one request line in, one answer out.
//
//   REQUEST <item>          ->  OK <text>
//   POKE <item> <text>      ->  OK            (after the change was handled)
//   anything else           ->  ERR <reason>  (and nothing changes)
//
// Lines are UTF-8; in texts, backslash, CR and LF are written \\, \r, \n.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dervix {

class FrmDervix;

// The items by control name: the main window's text fields and labels.
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

class LinkProtocol {
public:
    // Longest request line, without its LF.
    static constexpr std::size_t kMaxLine = 4096;

    explicit LinkProtocol(FrmDervix& w) : w_(w) {}

    // line without its LF (a CR before the LF is allowed); the answer
    // without its LF. A POKE runs the field's change handler before this
    // returns, so it may open boxes and serve events meanwhile, and handle()
    // may then be entered again for another request.
    std::string handle(std::string_view line);

private:
    FrmDervix& w_;
};

}  // namespace dervix
