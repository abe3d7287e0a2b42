#include "platform/win/WinText.h"

#include "platform/win/WinApi.h"

#include <optional>

namespace dervix::win {

namespace {

// What a call that fills a buffer gives: it returns the length it wrote, or,
// for too small a buffer, the size it needs (terminator included); 0 when it
// fails (or, for a variable, when it is unset).
template <typename Fill>
std::optional<std::wstring> Filled(Fill fill) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::nullopt;
        const bool fitted = n < buffer.size();
        buffer.resize(n);
        if (fitted) return buffer;
    }
}

}  // namespace

std::wstring Widen(const std::string& text, unsigned codePage) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), n);
    return wide;
}

std::string Narrow(const std::wstring& wide, unsigned codePage) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
    return text;
}

std::wstring FromLatin1(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
    return wide;
}

std::string ToLatin1(const std::wstring& wide) {
    std::string text;
    text.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const wchar_t c = wide[i];
        if (c <= 0xFF) {
            text.push_back(static_cast<char>(c));
            continue;
        }
        text.push_back('?');
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) ++i;
    }
    return text;
}

std::string FullPath(const std::string& path) {
    const std::wstring wide = Widen(path);
    const std::optional<std::wstring> full = Filled([&wide](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
    });
    return full ? Narrow(*full) : path;
}

std::string ErrorText(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n > 0 && text ? std::wstring(text, n) : std::wstring();
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                                message.back() == L'.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : ToLatin1(message);
}

std::wstring ShortPath(const std::wstring& path) {
    std::wstring native = path;
    for (wchar_t& c : native)
        if (c == L'/') c = L'\\';
    return Filled([&native](wchar_t* buffer, DWORD size) { return ::GetShortPathNameW(native.c_str(), buffer, size); })
        .value_or(native);
}

std::string Environment(const char* name) {
    const std::wstring wideName = Widen(name);
    const std::optional<std::wstring> value = Filled(
        [&wideName](wchar_t* buffer, DWORD size) { return ::GetEnvironmentVariableW(wideName.c_str(), buffer, size); });
    return value ? Narrow(*value) : std::string();
}

std::string UserFolder(const char* variable, const char* underProfile) {
    std::string folder = Environment(variable);
    if (folder.empty()) folder = Environment("USERPROFILE") + "\\" + underProfile;
    for (char& c : folder)
        if (c == '/') c = '\\';
    return folder;
}

}  // namespace dervix::win
