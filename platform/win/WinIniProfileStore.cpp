#include "platform/win/WinIniProfileStore.h"

#include "platform/win/WinApi.h"
#include "platform/win/WinText.h"
#include "shell/IniText.h"

namespace dervix {

namespace {

// Defaults that no profile line of the program holds. The second one tells a
// stored value that happens to read like the first from an absent key.
const char* const kAbsent = "\x01<absent>";
const char* const kAbsentToo = "\x02<absent>";

}  // namespace

std::string WinProfilePath() { return win::Environment("DERVIX_PROFILE"); }

WinIniProfileStore::WinIniProfileStore(const std::string& path) {
    if (path.empty()) return;
    path_ = win::FullPath(path);
    ansiPath_ = win::Narrow(win::Widen(path_), CP_ACP);
}

std::optional<std::string> WinIniProfileStore::read(const std::string& section, const std::string& key) {
    const auto get = [&](const char* fallback) {
        std::string buffer(256, '\0');
        for (;;) {
            const DWORD size = static_cast<DWORD>(buffer.size());
            const DWORD n =
                path_.empty()
                    ? ::GetProfileStringA(section.c_str(), key.c_str(), fallback, buffer.data(), size)
                    : ::GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback, buffer.data(), size,
                                                 ansiPath_.c_str());
            // A cut value comes back one short of the buffer; one that lost
            // its quotes while being cut comes back two short.
            if (n + 2 < size || buffer.size() >= kMaxValue) {
                buffer.resize(n);
                return buffer;
            }
            buffer.resize(buffer.size() * 2);
        }
    };
    std::string value = get(kAbsent);
    if (value == kAbsent && get(kAbsentToo) == kAbsentToo) return std::nullopt;
    return value;
}

bool WinIniProfileStore::write(const std::string& section, const std::string& key, const std::string& value) {
    const std::string stored = IniStorableValue(value);
    if (path_.empty()) {
        if (!::WriteProfileStringA(section.c_str(), key.c_str(), stored.c_str())) return false;
        // Out of the system's cache and into the file, for other programs.
        ::WriteProfileStringA(nullptr, nullptr, nullptr);
        return true;
    }
    // The operator made it read-only on purpose. The profile calls would
    // report a value the file already holds as written.
    const DWORD attributes = ::GetFileAttributesA(ansiPath_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    if (!::WritePrivateProfileStringA(section.c_str(), key.c_str(), stored.c_str(), ansiPath_.c_str())) return false;
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, ansiPath_.c_str());
    return true;
}

}  // namespace dervix
