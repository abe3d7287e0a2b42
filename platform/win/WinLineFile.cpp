#include "platform/win/WinLineFile.h"

#include "platform/win/WinApi.h"

#include <algorithm>

#include "platform/win/WinText.h"

namespace dervix {

namespace {

const char* const kNotDiskFile = "not a file on a disk";

// Closes the handle on every way out.
class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE h) {
        close();
        h_ = h;
    }
    bool close() {
        const bool ok = !valid() || ::CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE h_;
};

HANDLE OpenForAppend(const std::wstring& path) {
    // Append access alone: every write lands at the end, also when another
    // program appends to the same file. A link is opened as itself, never
    // followed, so it can be told and refused.
    return ::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool IsLink(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

std::string WinFolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

unsigned long MakeWinFolders(const std::string& folder) {
    if (folder.empty()) return 0;
    const DWORD attributes = ::GetFileAttributesW(win::Widen(folder).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ERROR_DIRECTORY;
    const std::string parent = WinFolderOf(folder);
    // "C:" and "\\server\share" are there or not; they cannot be made.
    if (!parent.empty() && parent.back() != ':' && parent.find_first_not_of("/\\") != std::string::npos) {
        if (unsigned long e = MakeWinFolders(parent)) return e;
    }
    if (!::CreateDirectoryW(win::Widen(folder).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return ::GetLastError();
    return 0;
}

std::string WinLineFile::makeFolders(const std::string& folder) {
    const unsigned long error = MakeWinFolders(folder);
    return error == 0 ? std::string() : win::ErrorText(error);
}

AppendingLineFile::Attempt WinLineFile::appendOnce(const std::string& path, const std::string& bytes) {
    Handle file(OpenForAppend(win::Widen(path)));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        return {win::ErrorText(error), error == ERROR_PATH_NOT_FOUND};
    }
    // A console, the NUL device, a pipe, a serial port: opened, but no place
    // for a log.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) return {kNotDiskFile};
    // A symbolic link (any user may make one in Developer Mode) or a
    // junction in the log's place may have been put there by anyone who may
    // write in its folder, to send the lines wherever he chose. (A hard link
    // needs write access to its target: no way into another's file.)
    if (IsLink(file.get())) return {"a symbolic link, not followed there"};
    // One write call for the whole line where the system allows it, so lines
    // of another program appending to the same file do not interleave.
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
        const bool ok = ::WriteFile(file.get(), data, chunk, &written, nullptr);
        const DWORD error = ok ? (written == 0 ? ERROR_WRITE_FAULT : 0) : ::GetLastError();
        data += written;
        left -= written;
        if (error != 0) return {win::ErrorText(error), false, bytes.size() - left};
    }
    if (!file.close()) return {win::ErrorText(::GetLastError()), false, bytes.size()};
    return {};
}

}  // namespace dervix
