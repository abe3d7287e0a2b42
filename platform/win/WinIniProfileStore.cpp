#include "platform/win/WinIniProfileStore.h"

#include "platform/win/WinApi.h"
#include "platform/win/WinLineFile.h"
#include "platform/win/WinText.h"
#include "shell/IniText.h"

namespace dervix {

namespace {

// Defaults that no profile line of the program holds. The second one tells a
// stored value that happens to read like the first from an absent key.
const wchar_t* const kAbsent = L"\x01<absent>";
const wchar_t* const kAbsentToo = L"\x02<absent>";

}  // namespace

std::string WinProfilePath() { return win::Environment("DERVIX_PROFILE"); }

WinIniProfileStore::WinIniProfileStore(const std::string& path) {
    if (path.empty()) return;
    path_ = win::FullPath(path);
    widePath_ = win::Widen(path_);
}

std::wstring WinIniProfileStore::get(const wchar_t* section, const wchar_t* key, const wchar_t* fallback) {
    std::wstring buffer(256, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD n = path_.empty()
                            ? ::GetProfileStringW(section, key, fallback, buffer.data(), size)
                            : ::GetPrivateProfileStringW(section, key, fallback, buffer.data(), size,
                                                         widePath_.c_str());
        // A cut value comes back one short of the buffer (a cut list of
        // names two short); one that lost its quotes while being cut comes
        // back two short.
        if (n + 2 < size || buffer.size() >= kMaxValue) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::string> WinIniProfileStore::read(const std::string& section, const std::string& key) {
    const std::wstring wideSection = win::FromLatin1(section);
    const std::wstring wideKey = win::FromLatin1(key);
    std::wstring value = get(wideSection.c_str(), wideKey.c_str(), kAbsent);
    if (value == kAbsent && get(wideSection.c_str(), wideKey.c_str(), kAbsentToo) == kAbsentToo) return std::nullopt;
    return win::ToLatin1(value);
}

std::vector<std::string> WinIniProfileStore::keys(const std::string& section) {
    const std::wstring wideSection = win::FromLatin1(section);
    // Each name ends with a NUL.
    const std::wstring names = get(wideSection.c_str(), nullptr, L"");
    std::vector<std::string> found;
    for (std::size_t from = 0; from < names.size();) {
        std::size_t end = names.find(L'\0', from);
        if (end == std::wstring::npos) end = names.size();
        if (end > from) found.push_back(win::ToLatin1(names.substr(from, end - from)));
        from = end + 1;
    }
    return found;
}

bool WinIniProfileStore::write(const std::string& section, const std::string& key, const std::string& value) {
    const std::wstring wideSection = win::FromLatin1(section);
    const std::wstring wideKey = win::FromLatin1(key);
    const std::wstring stored = win::FromLatin1(IniStorableValue(value));
    if (path_.empty()) {
        if (!::WriteProfileStringW(wideSection.c_str(), wideKey.c_str(), stored.c_str())) return false;
        // Out of the system's cache and into the file, for other programs.
        ::WriteProfileStringW(nullptr, nullptr, nullptr);
        return true;
    }
    // The operator made it read-only on purpose. The profile calls would
    // report a value the file already holds as written.
    const DWORD attributes = ::GetFileAttributesW(widePath_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    const auto put = [&] {
        return ::WritePrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), stored.c_str(), widePath_.c_str());
    };
    if (!put()) {
        // The folder of a file of the user's own is made when first needed.
        const std::string folder = WinFolderOf(path_);
        if (::GetFileAttributesW(win::Widen(folder).c_str()) != INVALID_FILE_ATTRIBUTES ||
            MakeWinFolders(folder) != 0 || !put())
            return false;
    }
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, widePath_.c_str());
    return true;
}

}  // namespace dervix
