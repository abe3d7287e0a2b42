#include "shell/IniText.h"

#include <vector>

namespace dervix {
namespace {

struct Line {
    std::size_t begin;  // offset of the first character
    std::size_t end;    // offset past the last character, before CR LF / LF
    std::size_t next;   // offset of the next line
};

std::vector<Line> SplitLines(const std::string& content) {
    std::vector<Line> lines;
    // A byte-order mark left by a Windows editor is not part of the first
    // line, or the first section header would go unseen.
    std::size_t pos = content.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < content.size()) {
        std::size_t lf = content.find('\n', pos);
        std::size_t next = lf == std::string::npos ? content.size() : lf + 1;
        std::size_t end = lf == std::string::npos ? content.size() : lf;
        if (end > pos && content[end - 1] == '\r') --end;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// "[name]" gives name; anything else gives nullopt.
std::optional<std::string> SectionName(const std::string& text) {
    std::string t = Trim(text);
    if (t.size() < 2 || t.front() != '[') return std::nullopt;
    std::size_t close = t.find(']');
    if (close == std::string::npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

struct KeyLine {
    std::string key;
    std::string value;
};

std::optional<KeyLine> ParseKey(const std::string& text) {
    std::string t = Trim(text);
    if (t.empty() || t[0] == ';' || t[0] == '[') return std::nullopt;
    std::size_t eq = text.find('=');
    if (eq == std::string::npos) return std::nullopt;
    KeyLine kl{Trim(text.substr(0, eq)), Trim(text.substr(eq + 1))};
    const std::string& v = kl.value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        kl.value = v.substr(1, v.size() - 2);
    return kl;
}

struct SectionSpan {
    std::size_t headerLine;
    std::size_t endLine;  // index of the next section header, or lines.size()
};

std::optional<SectionSpan> FindSection(const std::string& content, const std::vector<Line>& lines,
                                       const std::string& section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(content.substr(lines[i].begin, lines[i].end - lines[i].begin));
        if (!name || !SameName(*name, section)) continue;
        std::size_t j = i + 1;
        while (j < lines.size() &&
               !SectionName(content.substr(lines[j].begin, lines[j].end - lines[j].begin)))
            ++j;
        return SectionSpan{i, j};
    }
    return std::nullopt;
}

}  // namespace

std::string IniStorableValue(const std::string& value) {
    std::string v;
    v.reserve(value.size());
    for (char c : value) v.push_back((c == '\r' || c == '\n' || c == '\0') ? ' ' : c);
    // Blanks are kept as given (a number's signed form begins with one); they
    // do not survive a read, which is why a quoted text loses them here.
    const std::string t = Trim(v);
    bool quoted = t.size() >= 2 && (t.front() == '"' || t.front() == '\'') && t.back() == t.front();
    if (quoted) return (t.front() == '"' ? "'" : "\"") + t + (t.front() == '"' ? "'" : "\"");
    return v;
}

std::optional<std::string> IniLookup(const std::string& content, const std::string& section,
                                     const std::string& key) {
    auto lines = SplitLines(content);
    auto span = FindSection(content, lines, section);
    if (!span) return std::nullopt;
    for (std::size_t i = span->headerLine + 1; i < span->endLine; ++i) {
        auto kl = ParseKey(content.substr(lines[i].begin, lines[i].end - lines[i].begin));
        if (kl && SameName(kl->key, key)) return kl->value;
    }
    return std::nullopt;
}

std::vector<std::string> IniKeys(const std::string& content, const std::string& section) {
    std::vector<std::string> keys;
    auto lines = SplitLines(content);
    auto span = FindSection(content, lines, section);
    if (!span) return keys;
    for (std::size_t i = span->headerLine + 1; i < span->endLine; ++i) {
        auto kl = ParseKey(content.substr(lines[i].begin, lines[i].end - lines[i].begin));
        if (!kl || kl->key.empty()) continue;
        bool seen = false;
        for (const std::string& k : keys) seen = seen || SameName(k, kl->key);
        if (!seen) keys.push_back(kl->key);
    }
    return keys;
}

std::string IniUpdate(const std::string& content, const std::string& section, const std::string& key,
                      const std::string& value) {
    auto lines = SplitLines(content);
    const std::string eol = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    // Ends the text's last line where it has no LF. A bare CR there already
    // ends it for a reader; only its LF is missing, and a whole CR LF after
    // it would hand the CR to the last value.
    const auto endLastLine = [&eol](const std::string& text) {
        if (text.empty() || text.back() == '\n') return std::string();
        return text.back() == '\r' ? std::string("\n") : eol;
    };
    const std::string stored = IniStorableValue(value);
    auto span = FindSection(content, lines, section);
    if (!span) {
        std::string out = content;
        out += endLastLine(out);
        out += "[" + section + "]" + eol + key + "=" + stored + eol;
        return out;
    }
    std::size_t lastContent = span->headerLine;
    for (std::size_t i = span->headerLine + 1; i < span->endLine; ++i) {
        std::string text = content.substr(lines[i].begin, lines[i].end - lines[i].begin);
        if (!Trim(text).empty()) lastContent = i;
        auto kl = ParseKey(text);
        if (kl && SameName(kl->key, key)) {
            std::size_t eq = content.find('=', lines[i].begin);
            return content.substr(0, eq + 1) + stored + content.substr(lines[i].end);
        }
    }
    const Line& after = lines[lastContent];
    const std::string head = content.substr(0, after.next);
    // Only the text's last line may lack its LF.
    return head + endLastLine(head) + key + "=" + stored + eol + content.substr(after.next);
}

}  // namespace dervix
