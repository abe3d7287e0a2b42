#include "platform/win/WinLogPlace.h"

#include "platform/win/WinApi.h"

#include <algorithm>

#include "platform/win/WinLineFile.h"
#include "platform/win/WinText.h"

namespace dervix {

namespace {

std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The path the system reaches through path now, links followed; for a file
// not there yet, its folder's. As it stands when the folder cannot be had.
std::string FinalPath(const std::string& path) {
    HANDLE h = ::CreateFileW(win::Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::wstring wide(32768, L'\0');
    const DWORD n = ::GetFinalPathNameByHandleW(h, wide.data(), static_cast<DWORD>(wide.size()),
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(h);
    if (n == 0 || n >= wide.size()) return {};
    wide.resize(n);
    if (wide.rfind(L"\\\\?\\UNC\\", 0) == 0) wide = L"\\" + wide.substr(7);
    else if (wide.rfind(L"\\\\?\\", 0) == 0) wide = wide.substr(4);
    return win::Narrow(wide);
}

std::string Resolved(const std::string& path) {
    if (std::string reached = FinalPath(path); !reached.empty()) return reached;
    const std::string folder = WinFolderOf(path);
    std::string finalFolder = folder.empty() ? std::string() : FinalPath(folder);
    if (finalFolder.empty()) return path;
    return finalFolder + path.substr(folder.size());
}

}  // namespace

bool WinCanAppend(const std::string& file) {
    const std::wstring wide = win::Widen(file);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
        HANDLE h = ::CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        ::CloseHandle(h);
        return true;
    }
    // Only an absent file leaves the choice to its folder: one that exists
    // but refuses this user is not made writable by a writable folder.
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    const std::wstring probe =
        win::Widen(WinFolderOf(file)) + L"\\Dervix-" + std::to_wstring(::GetCurrentProcessId()) + L".probe";
    HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

LogPlace ChooseWinLogPlace(const std::string& programFolder, const std::function<bool(const std::string&)>& canAppend) {
    LogPlaceFacts facts;
    facts.separator = '\\';
    const std::string chosen = win::Environment("DERVIX_LOG");
    // Made absolute, so the notice of a failure names the file for certain;
    // its links resolved now, as the file is opened without following them.
    if (!chosen.empty()) facts.chosen = Resolved(win::FullPath(Native(chosen)));
    std::string folder = Native(programFolder);
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    facts.besideProgram = folder + "Dervix.txt";
    facts.userFolder = win::UserFolder("LOCALAPPDATA", "AppData\\Local") + "\\Dervix";
    return ChooseLogPlace(facts, canAppend);
}

}  // namespace dervix
