#include "platform/posix/FileProfileStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/posix/FileOps.h"
#include "shell/IniText.h"

namespace dervix {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Closes a descriptor on every way out; closing a lock file releases its lock.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Temporary files of writers that died between creating and renaming them.
// Only ever called under the lock, so no live writer owns one.
void RemoveStaleTemporaries(const std::string& folder, const std::string& prefix) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0) ::unlinkat(::dirfd(dir), name.c_str(), 0);
    }
    ::closedir(dir);
}

}  // namespace

std::string ProfilePath() {
    std::string explicitPath = Env("DERVIX_PROFILE");
    if (!explicitPath.empty()) return explicitPath;
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') config = posix::HomeFolder() + "/.config";
    return config + "/dervix/profile.ini";
}

FileProfileStore::FileProfileStore(std::string path) : path_(std::move(path)) {}

std::optional<std::string> FileProfileStore::read(const std::string& section, const std::string& key) {
    // Non-blocking, so a profile path that names a pipe or a device cannot
    // hang start-up; such a thing reads as an empty profile.
    Fd fd(OpenRetrying(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string content;
    // Whatever could be read counts, even when the rest could not.
    posix::ReadAll(fd.get(), content, kMaxSize);
    return IniLookup(content, section, key);
}

bool FileProfileStore::fail(std::string why) {
    lastError_ = std::move(why);
    return false;
}

bool FileProfileStore::write(const std::string& section, const std::string& key, const std::string& value) {
    // A profile that is a link to a file elsewhere stays a link: the file it
    // names is the one replaced.
    std::string target = path_;
    if (char* real = ::realpath(path_.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    const std::string folder = posix::FolderOf(target);
    if (int e = posix::MakeFolders(folder, 0700)) return fail("cannot create " + folder + ": " + posix::ErrnoText(e));

    // The lock lives on a file of its own: the profile itself is replaced by
    // every write, so a lock on it would guard a file nobody uses any more.
    // The lock file is never removed, or two writers could lock two files.
    const std::string lockPath = target + ".lock";
    Fd lock(OpenRetrying(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
    if (lock.get() < 0 && errno == EACCES) lock.reset(OpenRetrying(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (lock.get() < 0) return fail("cannot open " + lockPath + ": " + posix::ErrnoText(errno));
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return fail("cannot lock " + lockPath + ": " + posix::ErrnoText(errno));
    }

    // Read under the lock, so a value another program wrote a moment ago is
    // part of what gets written back.
    std::string content;
    bool exists = true;
    struct stat st {};
    {
        Fd in(OpenRetrying(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (in.get() < 0) {
            if (errno != ENOENT) return fail("cannot read " + target + ": " + posix::ErrnoText(errno));
            exists = false;
        } else {
            if (::fstat(in.get(), &st) != 0) return fail("cannot read " + target + ": " + posix::ErrnoText(errno));
            if (!S_ISREG(st.st_mode)) return fail(target + " is not a regular file");
            // The operator made it read-only on purpose. Judged by the mode
            // bits, not by the kernel: root may write anything, and the
            // rename below would not ask the file at all.
            if ((st.st_mode & S_IWUSR) == 0) return fail(target + " is read-only");
            if (int e = posix::ReadAll(in.get(), content, kMaxSize))
                return fail("cannot read " + target + ": " + posix::ErrnoText(e));
        }
    }

    const std::string updated = IniUpdate(content, section, key, value);
    if (exists && updated == content) {
        lastError_.clear();
        return true;  // already stored as asked
    }

    const std::string prefix = "." + posix::NameOf(target) + ".tmp-";
    RemoveStaleTemporaries(folder, prefix);
    std::string temporary;
    Fd out;
    for (int attempt = 0; out.get() < 0; ++attempt) {
        temporary = folder + "/" + prefix + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        // A new profile gets the usual mode under the user's umask; an
        // existing one keeps its own, set below.
        out.reset(OpenRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                               exists ? 0600 : 0666));
        if (out.get() < 0 && (errno != EEXIST || attempt > 100))
            return fail("cannot create " + temporary + ": " + posix::ErrnoText(errno));
    }
    auto abandon = [&](const std::string& step, int error) {
        out.reset();
        ::unlink(temporary.c_str());
        return fail("cannot " + step + " " + temporary + ": " + posix::ErrnoText(error));
    };
    if (exists) {
        if (::fchmod(out.get(), st.st_mode & 07777) != 0) return abandon("set the mode of", errno);
        // Someone else's profile (edited by root) stays theirs; where that is
        // not allowed the file simply becomes the writer's.
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
            [[maybe_unused]] int ignored = ::fchown(out.get(), st.st_uid, st.st_gid);
        }
    }
    if (int e = posix::WriteAll(out.get(), updated)) return abandon("write", e);
    if (::fsync(out.get()) != 0) return abandon("flush", errno);
    if (::close(out.release()) != 0 && errno != EINTR) return abandon("close", errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0) return abandon("rename", errno);
    if (int e = posix::SyncFolder(folder)) return fail("cannot flush " + folder + ": " + posix::ErrnoText(e));
    lastError_.clear();
    return true;
}

}  // namespace dervix
