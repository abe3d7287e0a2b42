#include "platform/posix/PosixLineFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/FileOps.h"

namespace dervix {

namespace {

int OpenForAppend(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

std::string PosixLineFile::append(const std::string& path, const std::string& bytes) {
    int fd = OpenForAppend(path);
    // The user's state folder may not exist yet, or may have been cleared
    // while the program runs; it is made again rather than losing the log.
    if (fd < 0 && errno == ENOENT && !folderToMake_.empty() && posix::FolderOf(path) == folderToMake_) {
        if (int e = posix::MakeFolders(folderToMake_, 0700)) return posix::ErrnoText(e);
        fd = OpenForAppend(path);
    }
    if (fd < 0) return posix::ErrnoText(errno);
    // One write call for the whole line where the kernel allows it, so lines
    // of another program appending to the same file do not interleave.
    int error = posix::WriteAll(fd, bytes);
    // A full disk or a network file system may only tell at close.
    if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    return error == 0 ? std::string() : posix::ErrnoText(error);
}

}  // namespace dervix
