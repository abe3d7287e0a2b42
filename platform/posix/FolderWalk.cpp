#include "platform/posix/FolderWalk.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dervix::posix {

namespace {

// Enough to pass through a folder that may be searched but not read (a home
// folder of mode 0711, say).
#ifdef O_PATH
constexpr int kReach = O_PATH;
#else
constexpr int kReach = O_RDONLY;
#endif

// Where umask 002 is the custom, a user's folders are group-writable for a
// group that is his alone; a group shared with others is not.
bool PrivateGroup(gid_t gid) {
    if (gid != ::getegid()) return false;
    struct passwd pw {};
    struct passwd* user = nullptr;
    char userBuffer[4096];
    struct group gr {};
    struct group* group = nullptr;
    char groupBuffer[16384];
    if (getpwuid_r(::geteuid(), &pw, userBuffer, sizeof userBuffer, &user) != 0 || !user) return false;
    if (getgrgid_r(gid, &gr, groupBuffer, sizeof groupBuffer, &group) != 0 || !group) return false;
    if (std::strcmp(group->gr_name, user->pw_name) != 0) return false;
    for (char** member = group->gr_mem; *member; ++member)
        if (std::strcmp(*member, user->pw_name) != 0) return false;
    return true;
}

std::string Below(const std::string& folder, const std::string& name) {
    if (folder == "/") return "/" + name;
    return folder == "." ? name : folder + "/" + name;
}

}  // namespace

std::string OthersMayChange(const std::string& folder, const struct stat& st) {
    // Its owner may always rename what it holds, whatever its mode says.
    if (st.st_uid != ::geteuid() && st.st_uid != 0) return folder + " belongs to another user";
    if (st.st_mode & S_ISVTX) return {};
    if ((st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && !PrivateGroup(st.st_gid))) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return folder + " is open to other users (mode " + mode + ")";
    }
    return {};
}

WalkedFolder WalkToFolder(const std::string& folder, bool makeMissing) {
    WalkedFolder result;
    std::string at = !folder.empty() && folder[0] == '/' ? "/" : ".";
    int fd = ::open(at.c_str(), O_DIRECTORY | kReach | O_CLOEXEC);
    std::size_t next = 0;
    while (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            result.error = errno;
            break;
        }
        if (std::string why = OthersMayChange(at, st); !why.empty()) {
            result.refused = why + ", who could make the path lead elsewhere";
            break;
        }
        next = folder.find_first_not_of('/', next);
        if (next == std::string::npos) {
            result.fd = fd;
            return result;
        }
        const std::size_t end = std::min(folder.find('/', next), folder.size());
        const std::string name = folder.substr(next, end - next);
        next = end;
        const int flags = O_DIRECTORY | O_NOFOLLOW | kReach | O_CLOEXEC;
        int child = ::openat(fd, name.c_str(), flags);
        if (child < 0 && errno == ENOENT && makeMissing) {
            if (::mkdirat(fd, name.c_str(), 0700) == 0 || errno == EEXIST) child = ::openat(fd, name.c_str(), flags);
        }
        if (child < 0) {
            result.error = errno;
            struct stat entry {};
            if ((errno == ENOTDIR || errno == ELOOP) && ::fstatat(fd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(entry.st_mode))
                result.refused = Below(at, name) + " is a symbolic link, not followed there";
        }
        ::close(fd);
        fd = child;
        at = Below(at, name);
    }
    if (fd < 0 && result.error == 0 && result.refused.empty()) result.error = errno;
    if (fd >= 0) ::close(fd);
    return result;
}

}  // namespace dervix::posix
