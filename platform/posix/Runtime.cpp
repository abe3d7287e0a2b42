#include "platform/posix/Runtime.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/posix/FileOps.h"

namespace dervix {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string UserName() {
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name &&
        found->pw_name[0] != '\0')
        return found->pw_name;
    return std::to_string(getuid());
}

// A folder or a socket of this user's own, judged by itself: a link in its
// place is not followed, as anyone can plant one in /tmp.
std::string NotOwn(const std::string& path, const struct stat& st, mode_t type) {
    if ((st.st_mode & S_IFMT) != type) return path + (type == S_IFDIR ? " is not a folder" : " is not a socket");
    if (st.st_uid != ::geteuid()) return path + " belongs to another user";
    return {};
}

// The fallback's /tmp/runtime-<user>, checked like the runtime folder itself.
bool IsFallbackParent(const std::string& parent) {
    return parent.rfind("/tmp/runtime-", 0) == 0 && posix::FolderOf(parent) == "/tmp";
}

// One level of the runtime path: made when absent, then checked without
// following a link, since anyone can plant one in /tmp. Only a folder made
// here is given its mode: an existing one may be the user's home or a shared
// folder such as /tmp, and narrowing it would lock others out of it (or take
// the sticky bit off /tmp). One that others can reach is refused instead.
std::string EnsurePrivateFolder(const std::string& folder) {
    const bool created = ::mkdir(folder.c_str(), 0700) == 0;
    if (!created && errno != EEXIST) return "cannot create " + folder + ": " + posix::ErrnoText(errno);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return "cannot examine " + folder + ": " + posix::ErrnoText(errno);
    if (std::string why = NotOwn(folder, st, S_IFDIR); !why.empty()) return why;
    // The umask may have taken more than the group's and others' bits.
    if (created && (st.st_mode & 07777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)
        return "cannot set the mode of " + folder + ": " + posix::ErrnoText(errno);
    if (!created && (st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return folder + " is open to other users (mode " + mode +
               ") and is left as it is: the instance lock and the link socket need a folder of your own. "
               "Make it private (chmod 700 " + folder + "), or set DERVIX_RUNTIME_DIR to a folder that does "
               "not exist yet";
    }
    return {};
}

}  // namespace

std::string RuntimeFolderPath() {
    std::string explicitFolder = Env("DERVIX_RUNTIME_DIR");
    if (!explicitFolder.empty()) {
        // Made absolute: the local socket layer would put a relative socket
        // name under the temporary folder, away from the instance lock.
        if (explicitFolder[0] != '/') {
            char cwd[4096];
            if (::getcwd(cwd, sizeof cwd)) explicitFolder = std::string(cwd) + "/" + explicitFolder;
        }
        return explicitFolder;
    }
    std::string xdg = Env("XDG_RUNTIME_DIR");
    if (!xdg.empty() && xdg[0] == '/') return xdg + "/dervix";
    return "/tmp/runtime-" + UserName() + "/dervix";
}

FolderResult PrepareRuntimeFolder() { return PrepareRuntimeFolder(RuntimeFolderPath()); }

FolderResult PrepareRuntimeFolder(const std::string& folder) {
    FolderResult result{folder, {}};
    // The levels above are the user's own business (XDG_RUNTIME_DIR, a
    // chosen folder) or the fallback's /tmp/runtime-<user>, which is made
    // and checked like the final folder itself.
    const std::string parent = posix::FolderOf(folder);
    if (IsFallbackParent(parent)) {
        result.error = EnsurePrivateFolder(parent);
    } else if (int e = posix::MakeFolders(parent, 0700)) {
        result.error = "cannot create " + parent + ": " + posix::ErrnoText(e);
    }
    if (result.error.empty()) result.error = EnsurePrivateFolder(folder);
    return result;
}

std::string CheckRuntimeOwner(const std::string& folder, const std::string& socket) {
    std::vector<std::pair<std::string, mode_t>> places;
    if (IsFallbackParent(posix::FolderOf(folder))) places.emplace_back(posix::FolderOf(folder), S_IFDIR);
    places.emplace_back(folder, S_IFDIR);
    places.emplace_back(socket, S_IFSOCK);
    for (const auto& [path, type] : places) {
        struct stat st {};
        // Nothing there, or nothing this user may look at: nobody to talk to,
        // as connecting will tell.
        if (::lstat(path.c_str(), &st) != 0) return {};
        if (std::string why = NotOwn(path, st, type); !why.empty()) return why;
    }
    return {};
}

InstanceLock::~InstanceLock() { release(); }

void InstanceLock::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

InstanceLock::Outcome InstanceLock::acquire(const std::string& runtimeFolder) {
    release();
    error_.clear();
    const std::string path = runtimeFolder + "/instance.lock";
    // Close-on-exec: a program started from here must not inherit the lock
    // and keep it after this instance has ended.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = "cannot open " + path + ": " + posix::ErrnoText(errno);
        return Outcome::Failed;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            error_ = "another instance holds " + path;
            return Outcome::HeldElsewhere;
        }
        error_ = "cannot lock " + path + ": " + posix::ErrnoText(error);
        return Outcome::Failed;
    }
    fd_ = fd;
    return Outcome::Acquired;
}

}  // namespace dervix
