#include "shell/TextEscape.h"

namespace dervix {

bool IsControlCode(unsigned code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

void AppendEscaped(std::string& out, unsigned code) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (code == '\\') {
        out += "\\\\";
    } else if (code == '\r') {
        out += "\\r";
    } else if (code == '\n') {
        out += "\\n";
    } else if (IsControlCode(code)) {
        out += "\\x";
        out.push_back(kHex[(code >> 4) & 0xF]);
        out.push_back(kHex[code & 0xF]);
    } else {
        out.push_back(static_cast<char>(code));
    }
}

std::string EscapeControls(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1) AppendEscaped(out, static_cast<unsigned char>(c));
    return out;
}

}  // namespace dervix
