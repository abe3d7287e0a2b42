#include "shell/LinkProtocol.h"

#include "shell/FrmDervix.h"

namespace dervix {

std::string LinkEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out.push_back(c);
    }
    return out;
}

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

std::string LinkProtocol::handle(std::string_view line) {
    if (line.size() > kMaxLine) return "ERR line too long";
    // A client that ends its lines with CR LF is understood as well.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!IsValidUtf8(line)) return "ERR invalid UTF-8";
    // A CR that means itself is written \r; a bare one is a garbled request.
    if (line.find('\r') != std::string_view::npos) return "ERR bare CR in request";
    if (line.empty()) return "ERR empty request";

    const std::size_t verbEnd = line.find(' ');
    const std::string_view verb = line.substr(0, verbEnd);
    const bool request = verb == "REQUEST";
    if (!request && verb != "POKE") return "ERR unknown request";
    if (verbEnd == std::string_view::npos) return "ERR missing item";
    const std::string_view rest = line.substr(verbEnd + 1);

    const std::size_t itemEnd = request ? std::string_view::npos : rest.find(' ');
    const std::string item(rest.substr(0, itemEnd));
    if (item.empty()) return "ERR missing item";

    TextSlot* slot = nullptr;
    const Label* label = nullptr;
    if (item == "txtFlowRate")
        slot = &w_.txtFlowRate;
    else if (item == "txtDVXScmd")
        slot = &w_.txtDVXScmd;
    else if (item == "DervixResp")
        slot = &w_.DervixResp;
    else if (item == "Label3")
        label = &w_.Label3;
    else if (item == "Label5")
        label = &w_.Label5;
    else
        return "ERR unknown item";

    if (request) return "OK " + LinkEscape(Latin1ToUtf8(slot ? slot->text() : label->caption()));

    if (!slot) return "ERR " + item + " cannot be set";
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
