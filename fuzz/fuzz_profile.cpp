// Reading and editing profile text under arbitrary file contents. Whatever
// the file holds, setting a key must keep these promises:
//   - the key reads back as stored (line breaks in a value become blanks,
//     blanks around it do not survive, a quoted value keeps its quotes);
//   - every other key of every section reads as before;
//   - setting it again to the same value changes nothing;
//   - setting an existing key to another value adds no line;
//   - the text grows by no more than the one new line (and header).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "shell/IniText.h"

namespace {

using dervix::IniLookup;
using dervix::IniUpdate;

[[noreturn]] void Broken(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "broken: %s [%s]\n", what, detail.c_str());
    std::abort();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

// A name the program could use for a section or a key: one that the file
// format can hold at all.
bool UsableName(const std::string& name) {
    if (name.empty() || IsBlank(name.front()) || IsBlank(name.back())) return false;
    if (name.front() == ';' || name.front() == '[') return false;
    return name.find_first_of(std::string("\r\n=]\0", 5)) == std::string::npos;
}

// What reading gives back for a stored value.
std::string ReadBack(std::string value) {
    for (char& c : value)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return Trim(value);
}

std::size_t Lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

// Section and key names that appear in the text, as a reader would ask for
// them; asked for in every combination, they watch the rest of the file.
void CollectNames(const std::string& content, std::vector<std::string>& sections, std::vector<std::string>& keys) {
    std::size_t pos = 0;
    while (pos < content.size() && sections.size() < 12 && keys.size() < 24) {
        std::size_t lf = content.find('\n', pos);
        if (lf == std::string::npos) lf = content.size();
        const std::string line = Trim(content.substr(pos, lf - pos));
        const std::size_t close = line.find(']');
        if (!line.empty() && line.front() == '[' && close != std::string::npos)
            sections.push_back(Trim(line.substr(1, close - 1)));
        else if (const std::size_t eq = line.find('='); eq != std::string::npos)
            keys.push_back(Trim(line.substr(0, eq)));
        pos = lf + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(16);
    const std::string key = in.ConsumeRandomLengthString(16);
    const std::string value = in.ConsumeRandomLengthString(64);
    const std::string other = in.ConsumeRandomLengthString(64);
    const std::string content = in.ConsumeRemainingBytesAsString();
    if (!UsableName(section) || !UsableName(key)) return 0;

    const bool existed = IniLookup(content, section, key).has_value();
    const std::string updated = IniUpdate(content, section, key, value);

    const std::optional<std::string> read = IniLookup(updated, section, key);
    if (read != ReadBack(value)) Broken("written key reads back", read.value_or("<absent>"));

    std::vector<std::string> sections{section}, keys{key};
    CollectNames(content, sections, keys);
    for (const std::string& s : sections)
        for (const std::string& k : keys) {
            if (SameName(s, section) && SameName(k, key)) continue;
            if (IniLookup(content, s, k) != IniLookup(updated, s, k)) Broken("other key changed", s + "/" + k);
        }

    if (IniUpdate(updated, section, key, value) != updated) Broken("same value again changes the text");

    const std::string again = IniUpdate(updated, section, key, other);
    if (Lines(again) != Lines(updated)) Broken("setting an existing key added a line");
    if (IniLookup(again, section, key) != ReadBack(other)) Broken("second value reads back");

    // At most: a line end where the text had none, a header line, and the
    // key's line with a value that gained a pair of quotes (line ends CR LF).
    const std::size_t bound = content.size() + 2 + (section.size() + 4) + (key.size() + 1 + value.size() + 2 + 2);
    if (updated.size() > bound) Broken("text grew too much");
    if (existed && Lines(updated) != Lines(content)) Broken("replacing a key changed the line count");
    return 0;
}
