#include "platform/win/WinText.h"

#include "platform/win/WinApi.h"

namespace dervix::win {

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
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return path;
        // Too small a buffer gives the size it needs, terminator included.
        if (n < full.size()) {
            full.resize(n);
            return Narrow(full);
        }
        full.resize(n);
    }
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
    std::wstring shortForm(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetShortPathNameW(native.c_str(), shortForm.data(), static_cast<DWORD>(shortForm.size()));
        if (n == 0) return path;
        // Too small a buffer gives the size it needs, terminator included.
        if (n < shortForm.size()) {
            shortForm.resize(n);
            return shortForm;
        }
        shortForm.resize(n);
    }
}

std::string Environment(const char* name) {
    const std::wstring wideName = Widen(name);
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) return {};
        // A value that did not fit gives the size it needs, terminator included.
        if (n < value.size()) {
            value.resize(n);
            return Narrow(value);
        }
        value.resize(n);
    }
}

std::string UserFolder(const char* variable, const char* underProfile) {
    std::string folder = Environment(variable);
    if (folder.empty()) folder = Environment("USERPROFILE") + "\\" + underProfile;
    for (char& c : folder)
        if (c == '/') c = '\\';
    return folder;
}

}  // namespace dervix::win
