#include "devicelink/LineSettingsText.h"

#include <sstream>
#include <vector>

namespace dervix {
namespace {

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool WholeNumber(const std::string& s, int& out) {
    if (s.empty() || s.size() > 7) return false;
    out = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + (c - '0');
    }
    return true;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) parts.push_back(Trim(part));
    if (parts.size() != 4 || text.empty() || text.back() == ',') return std::nullopt;

    LineSettings s;
    if (!WholeNumber(parts[0], s.baud) || s.baud < 50) return std::nullopt;
    if (parts[1].size() != 1) return std::nullopt;
    char parity = static_cast<char>(parts[1][0] & ~0x20);  // upper case
    if (parity != 'N' && parity != 'E' && parity != 'O' && parity != 'M' && parity != 'S') return std::nullopt;
    s.parity = parity;
    if (!WholeNumber(parts[2], s.dataBits) || s.dataBits < 4 || s.dataBits > 8) return std::nullopt;
    if (parts[3] == "1") s.stopBits = 1;
    else if (parts[3] == "1.5") s.stopBits = 15;
    else if (parts[3] == "2") s.stopBits = 2;
    else return std::nullopt;
    return s;
}

}  // namespace dervix
