#pragma once
// The per-user runtime folder (instance lock, link socket) and the lock that
// keeps one instance of the program per user.
#include <string>

namespace dervix {

// $DERVIX_RUNTIME_DIR if set (taken from the working folder when relative),
// else $XDG_RUNTIME_DIR/dervix, else /tmp/runtime-<user>/dervix. Only works
// out the path; creates nothing.
std::string RuntimeFolderPath();

struct FolderResult {
    std::string path;
    std::string error;  // empty on success
    bool ok() const { return error.empty(); }
};

// RuntimeFolderPath() made ready: created with mode 0700 when absent, and
// refused when it is not a real folder owned by this user (the fallback
// lives in the shared /tmp) or when it exists and others can reach it. The
// mode of an existing folder is never changed.
FolderResult PrepareRuntimeFolder();
FolderResult PrepareRuntimeFolder(const std::string& folder);

// Why the program at socket (in folder, the runtime folder) may be another
// user's, or the empty text: the folder, the fallback's /tmp/runtime-<user>
// above it and the socket must each be this user's own and no link, by the
// rule the program applies to its folder. A client asks this before it
// sends anything: another user who made the fallback folder first would
// otherwise get its requests and could answer them as he pleased. What is
// not there passes; connecting tells that nobody is.
std::string CheckRuntimeOwner(const std::string& folder, const std::string& socket);

// flock on "<runtime folder>/instance.lock". The kernel drops the lock when
// the holder ends in any way, so a crashed instance never blocks the next.
class InstanceLock {
public:
    enum class Outcome { Acquired, HeldElsewhere, Failed };

    InstanceLock() = default;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    Outcome acquire(const std::string& runtimeFolder);
    bool held() const { return fd_ >= 0; }
    void release();
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

}  // namespace dervix
