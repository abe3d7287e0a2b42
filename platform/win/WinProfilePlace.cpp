#include "platform/win/WinProfilePlace.h"

#include "platform/win/WinApi.h"

#include <optional>

#include "platform/win/WinIniProfileStore.h"
#include "platform/win/WinLogPlace.h"
#include "platform/win/WinText.h"
#include "shell/Globals.h"
#include "shell/IniText.h"

namespace dervix {

namespace {

const wchar_t* const kMappingKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\win.ini";

bool SectionMapped() {
    DWORD size = 0;
    const LSTATUS status = ::RegGetValueW(HKEY_LOCAL_MACHINE, kMappingKey, win::FromLatin1(kSection).c_str(),
                                          RRF_RT_REG_SZ, nullptr, nullptr, &size);
    // The size counts the terminating NUL: an empty text maps nothing.
    return status == ERROR_SUCCESS && size > sizeof(wchar_t);
}

std::string WindowsFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT n = ::GetWindowsDirectoryW(folder, MAX_PATH + 1);
    return n > 0 && n <= MAX_PATH ? win::Narrow(std::wstring(folder, n)) : std::string("C:\\Windows");
}

// A WIN.INI is a few kB; one of megabytes is not the file it claims to be,
// and nothing in it is to be trusted, least of all what a cut would leave.
constexpr std::size_t kMaxProfileBytes = 4u << 20;

// A profile file's text in the logic's single-byte text: a file written by
// the profile calls is in the ANSI code page unless it begins with a mark of
// UTF-16 or UTF-8. None for a file that cannot be read, or is too large (then
// tooLarge is set).
std::optional<std::string> ReadProfileText(const std::string& path, bool& tooLarge) {
    tooLarge = false;
    HANDLE file = ::CreateFileW(win::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char chunk[16384];
    DWORD n = 0;
    while (!tooLarge && ::ReadFile(file, chunk, sizeof chunk, &n, nullptr) && n > 0) {
        bytes.append(chunk, n);
        tooLarge = bytes.size() > kMaxProfileBytes;
    }
    ::CloseHandle(file);
    if (tooLarge) return std::nullopt;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        std::wstring wide((bytes.size() - 2) / 2, L'\0');
        for (std::size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                           static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
        return win::ToLatin1(wide);
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return win::ToLatin1(win::Widen(bytes.substr(3)));
    return win::ToLatin1(win::Widen(bytes, CP_ACP));
}

}  // namespace

WinProfileFacts ThisUsersProfileFacts() {
    WinProfileFacts facts;
    facts.explicitFile = WinProfilePath();
    facts.mapped = SectionMapped();
    facts.windowsFolder = WindowsFolder();
    facts.winIniWritable = WinCanAppend(facts.windowsFolder + "\\win.ini");
    facts.localAppData = win::UserFolder("LOCALAPPDATA", "AppData\\Local");
    facts.appData = win::UserFolder("APPDATA", "AppData\\Roaming");
    const std::wstring own = win::Widen(WinOwnProfileFolder(facts.appData) + "\\profile.ini");
    facts.ownFileExists = ::GetFileAttributesW(own.c_str()) != INVALID_FILE_ATTRIBUTES;
    return facts;
}

std::string WinOwnProfileFolder(const std::string& appData) { return appData + "\\Dervix"; }

WinProfilePlace ChooseWinProfilePlace(const WinProfileFacts& facts) {
    if (!facts.explicitFile.empty()) return {facts.explicitFile, {}, false};
    const std::string winIni = facts.windowsFolder + "\\win.ini";
    // The user's copy mirrors the file's own path, drive left out.
    const std::size_t colon = facts.windowsFolder.find(':');
    const std::string virtualStore = facts.localAppData + "\\VirtualStore" +
                                     (colon == std::string::npos ? facts.windowsFolder
                                                                 : facts.windowsFolder.substr(colon + 1)) +
                                     "\\win.ini";
    const std::string own = WinOwnProfileFolder(facts.appData) + "\\profile.ini";
    // Where the zip kept them before, Dervix's own latest settings come first.
    if (facts.mapped) return {{}, {own, virtualStore, winIni}, false};
    // An elevated start, or a system that lets anyone write WIN.INI: the file
    // itself, as it always was.
    if (facts.winIniWritable) return {{}, {own, virtualStore}, false};
    return {own, {virtualStore, winIni}, !facts.ownFileExists};
}

std::string TakeOverProfile(WinIniProfileStore& store, const std::vector<std::string>& earlier) {
    if (!store.keys(kSection).empty()) return {};
    // Files passed over for their size, named in the note; the next file
    // is looked at as after one without a section.
    std::string passed;
    for (const std::string& file : earlier) {
        const std::string from = win::ToLatin1(win::Widen(file));
        bool tooLarge = false;
        const std::optional<std::string> text = ReadProfileText(file, tooLarge);
        if (tooLarge) passed += "nothing taken over from " + from + ", larger than 4 MiB; ";
        if (!text) continue;
        const std::vector<std::string> keys = IniKeys(*text, kSection);
        if (keys.empty()) continue;
        std::size_t written = 0;
        for (const std::string& key : keys)
            if (store.write(kSection, key, IniLookup(*text, kSection, key).value_or(""))) ++written;
        if (written < keys.size())
            return "Profile - " + passed + "only " + std::to_string(written) + " of " + std::to_string(keys.size()) +
                   " settings could be taken over from " + from;
        return "Profile - " + passed + std::to_string(keys.size()) + " settings taken over from " + from;
    }
    if (passed.empty()) return {};
    passed.resize(passed.size() - 2);  // its closing "; "
    return "Profile - " + passed;
}

std::string OwnProfileNotice(const std::string& file) {
    return "Dervix keeps your settings in " + win::ToLatin1(win::Widen(file)) +
           ": WIN.INI cannot be written here.\r\rInstalled with its installer, Dervix shares them with other "
           "programs through WIN.INI.";
}

}  // namespace dervix
