#include "shell/LinkProtocol.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/Timer.h"
#include "shell/FrmDervix.h"
#include "shell/TextEscape.h"

namespace dervix {

std::string LinkEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // A C1 control (U+0080 to U+009F) is C2 and one byte 80 to 9F in UTF-8;
        // the bytes of every other sequence are 80 and above, and pass.
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            AppendEscaped(out, next);
            ++i;
        } else if (byte < 0x80) {
            AppendEscaped(out, byte);
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string LinkEscapeLatin1(std::string_view latin1) { return EscapeControls(latin1); }

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> LinkUnescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
        case '\\': out.push_back('\\'); break;
        case 'r': out.push_back('\r'); break;
        case 'n': out.push_back('\n'); break;
        case 'x': {
            const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) return std::nullopt;
            out += Latin1ToUtf8(std::string(1, static_cast<char>(high * 16 + low)));
            i += 2;
            break;
        }
        default: return std::nullopt;
        }
    }
    return out;
}

namespace {

// Decodes one UTF-8 sequence at text[i]; advances i. Returns -1 when the
// bytes there are not well-formed.
long NextCodePoint(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int length;
    long cp;
    long minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return -1;  // continuation byte, overlong C0/C1 lead, or past F4
    }
    if (i + static_cast<std::size_t>(length) > text.size()) return -1;
    for (int k = 1; k < length; ++k) {
        const unsigned char b = byte(i + static_cast<std::size_t>(k));
        if ((b & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    i += static_cast<std::size_t>(length);
    return cp;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();)
        if (NextCodePoint(text, i) < 0) return false;
    return true;
}

std::optional<std::string> Utf8ToLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const long cp = NextCodePoint(text, i);
        if (cp < 0 || cp > 0xFF) return std::nullopt;
        out.push_back(static_cast<char>(cp));
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

// The watchers of one protocol. A watcher may end watches while it is told of
// a change (its client has gone, say): each is looked for again before it is
// told.
struct LinkWatchList {
    std::vector<LinkWatcher*> watchers;
    OneShotTimer* pacer = nullptr;
    unsigned held = 0;  // one bit per item whose latest text waits for the pacer

    bool has(const LinkWatcher* watcher) const {
        return std::find(watchers.begin(), watchers.end(), watcher) != watchers.end();
    }
    bool watched(std::size_t item) const {
        return std::any_of(watchers.begin(), watchers.end(),
                           [item](const LinkWatcher* w) { return (w->items_ >> item) & 1u; });
    }
    void add(LinkWatcher& watcher, std::size_t item, const std::shared_ptr<LinkWatchList>& self) {
        if (watcher.list_.lock() != self) {
            watcher.endWatches();
            watchers.push_back(&watcher);
            watcher.list_ = self;
        }
        watcher.items_ |= 1u << item;
    }
    void remove(LinkWatcher& watcher, std::size_t item) {
        watcher.items_ &= ~(1u << item);
        if (!watcher.watching()) watcher.endWatches();
    }
    // A new text of a watched item. Noise on the line changes the response
    // slot with each byte, and every watcher would get the whole slot again
    // each time: the cost would grow with the square of the noise. So texts
    // past the paced length go at a bounded rate in bytes, each one followed
    // by a spacing in proportion to its length; meanwhile only the item's
    // latest text waits, as for a slow reader.
    void changed(std::size_t item, const std::string& text) {
        const unsigned bit = 1u << item;
        if (pacer && text.size() > LinkProtocol::kPacedTextBytes) {
            if (pacer->isActive()) {
                held |= bit;
                return;
            }
            space(text.size());
        }
        held &= ~bit;  // a shorter text takes the waiting one's place
        tell(item, text);
    }
    void space(std::size_t bytes) {
        const std::size_t ms = bytes * 1000 / LinkProtocol::kPacedBytesPerSecond;
        pacer->setInterval(static_cast<int>(std::max<std::size_t>(ms, 1)));
        pacer->start();
    }
    void tell(std::size_t item, const std::string& text) {
        const std::string_view name = kLinkItems[item];
        const std::string line = "CHANGED " + std::string(name) + " " + LinkEscape(Latin1ToUtf8(text));
        const std::vector<LinkWatcher*> told = watchers;
        for (LinkWatcher* watcher : told)
            if (has(watcher) && ((watcher->items_ >> item) & 1u)) watcher->changed(name, line);
    }
};

void LinkWatcher::endWatches() {
    items_ = 0;
    if (const auto list = list_.lock()) std::erase(list->watchers, this);
    list_.reset();
}

LinkProtocol::LinkProtocol(FrmDervix& w, OneShotTimer* pacer) : w_(w), watches_(std::make_shared<LinkWatchList>()) {
    watches_->pacer = pacer;
    if (pacer) pacer->setHandler([this] { paced(); });
    for (std::size_t item = 0; item < kLinkItems.size(); ++item) {
        TextWatched& control = item == 3 ? static_cast<TextWatched&>(w_.Label3)
                               : item == 4 ? static_cast<TextWatched&>(w_.Label5)
                                           : *slotOf(item);
        // Costs a look at an empty list while nobody watches. The list goes
        // with the protocol, and the hook stays with the control: a window
        // that outlives its protocol tells nobody.
        control.setTextWatcher([list = std::weak_ptr(watches_), item, this] {
            if (const auto watches = list.lock(); watches && watches->watched(item))
                watches->changed(item, textOf(item));
        });
    }
}

LinkProtocol::~LinkProtocol() {
    if (OneShotTimer* pacer = watches_->pacer) {
        pacer->stop();
        pacer->setHandler(nullptr);
    }
    for (LinkWatcher* watcher : watches_->watchers) {
        watcher->items_ = 0;
        watcher->list_.reset();
    }
}

void LinkProtocol::paced() {
    const unsigned held = std::exchange(watches_->held, 0u);
    std::size_t bytes = 0;
    for (std::size_t item = 0; item < kLinkItems.size(); ++item) {
        if (!((held >> item) & 1u) || !watches_->watched(item)) continue;
        const std::string text = textOf(item);
        bytes += text.size();
        watches_->tell(item, text);
    }
    // What went now spaces out the next long texts in its turn.
    if (bytes > 0) watches_->space(bytes);
}

std::string LinkProtocol::textOf(std::size_t item) const {
    if (item == 3) return w_.Label3.caption();
    if (item == 4) return w_.Label5.caption();
    return slotOf(item)->text();
}

TextSlot* LinkProtocol::slotOf(std::size_t item) const {
    switch (item) {
    case 0: return &w_.txtFlowRate;
    case 1: return &w_.txtDVXScmd;
    case 2: return &w_.DervixResp;
    default: return nullptr;  // labels
    }
}

std::string LinkProtocol::handle(std::string_view line, LinkWatcher* client) {
    if (line.size() > kMaxLine) return std::string(kLineTooLong);
    // A client that ends its lines with CR LF is understood as well.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!IsValidUtf8(line)) return "ERR invalid UTF-8";
    // A CR that means itself is written \r; a bare one is a garbled request.
    if (line.find('\r') != std::string_view::npos) return "ERR bare CR in request";
    if (line.empty()) return "ERR empty request";

    const std::size_t verbEnd = line.find(' ');
    const std::string_view verb = line.substr(0, verbEnd);
    const bool poke = verb == "POKE", watch = verb == "WATCH", unwatch = verb == "UNWATCH";
    if (!poke && !watch && !unwatch && verb != "REQUEST") return "ERR unknown request";
    if (verbEnd == std::string_view::npos) return "ERR missing item";
    const std::string_view rest = line.substr(verbEnd + 1);

    const std::size_t itemEnd = poke ? rest.find(' ') : std::string_view::npos;
    const std::string item(rest.substr(0, itemEnd));
    if (item.empty()) return "ERR missing item";
    // In any letter case, as DDE matches them, so that a script written for
    // one link works on the other; the answers name the item as listed. The
    // names are ASCII: no locale's idea of case (a Turkish I) comes into it.
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const auto found = std::find_if(kLinkItems.begin(), kLinkItems.end(), [&](std::string_view name) {
        return std::equal(name.begin(), name.end(), item.begin(), item.end(),
                          [&fold](char a, char b) { return fold(a) == fold(b); });
    });
    if (found == kLinkItems.end()) return "ERR unknown item";
    const auto index = static_cast<std::size_t>(found - kLinkItems.begin());

    if ((watch || unwatch) && !client) return "ERR cannot watch here";
    if (unwatch) {
        watches_->remove(*client, index);
        client->unwatched(*found);
        return "OK";
    }
    // The text now, and from here on every new one: nothing falls between.
    if (watch) watches_->add(*client, index, watches_);
    if (!poke) return "OK " + LinkEscape(Latin1ToUtf8(textOf(index)));

    TextSlot* slot = slotOf(index);
    if (!slot) return "ERR " + std::string(*found) + " cannot be set";
    if (itemEnd == std::string_view::npos) return "ERR missing text";
    auto unescaped = LinkUnescape(rest.substr(itemEnd + 1));
    if (!unescaped) return "ERR bad escape";
    auto text = Utf8ToLatin1(*unescaped);
    if (!text) return "ERR character not in Latin-1";
    // Runs the field's handler now, nested in this call, exactly as if the
    // window itself had set the text; "KILL" in the request field ends the
    // program here and no answer is ever sent.
    slot->setText(std::move(*text));
    return "OK";
}

}  // namespace dervix
