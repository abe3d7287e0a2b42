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
    const std::string explicitLog = win::Environment("DERVIX_LOG");
    // Made absolute, so the notice of a failure names the file for certain.
    if (!explicitLog.empty()) return {win::FullPath(Native(explicitLog)), {}};
    std::string folder = Native(programFolder);
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    const std::string beside = folder + "Dervix.txt";
    if (canAppend(beside)) return {beside, {}};
    const std::string own = win::UserFolder("LOCALAPPDATA", "AppData\\Local") + "\\Dervix";
    return {own + "\\Dervix.txt", own};
}

}  // namespace dervix
