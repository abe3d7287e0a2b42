#include "platform/posix/FileOps.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace dervix::posix {

std::string ErrnoText(int error) {
    char buffer[256] = {};
    // The GNU strerror_r may return a static text instead of filling buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text ? std::string(text) : "error " + std::to_string(error);
}

int WriteAll(int fd, std::string_view bytes, std::size_t* written) {
    const std::size_t size = bytes.size();
    int error = 0;
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        if (n == 0) {
            error = EIO;
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (written) *written = size - bytes.size();
    return error;
}

int ReadAll(int fd, std::string& out, std::size_t limit) {
    out.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        const std::size_t room = limit - out.size();
        if (static_cast<std::size_t>(n) > room) {
            out.append(buffer, room);
            return EFBIG;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

int MakeFolders(const std::string& folder, unsigned mode) {
    if (folder.empty()) return 0;
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT) return errno;
    const std::string parent = FolderOf(folder);
    if (parent != folder && parent != "." && parent != "/") {
        if (int e = MakeFolders(parent, mode)) return e;
    }
    if (::mkdir(folder.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return errno;
    return 0;
}

int SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int result = ::fsync(fd) == 0 ? 0 : errno;
    // Some file systems cannot sync a folder; the rename itself has happened.
    if (result == EINVAL) result = 0;
    ::close(fd);
    return result;
}

std::string FolderOf(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    std::string folder = p.substr(0, slash);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string NameOf(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') return home;
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/";
}

}  // namespace dervix::posix
