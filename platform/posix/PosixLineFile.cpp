#include "platform/posix/PosixLineFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/FileOps.h"
#include "platform/posix/FolderWalk.h"

namespace dervix {

namespace {

const char* const kNotRegular = "not a regular file";

int OpenForAppend(int folder, const std::string& name) {
    // Without O_NONBLOCK, opening a named pipe waits for a reader: for ever
    // once a log collector has ended, and the whole program with it.
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
    int fd;
    do {
        fd = ::openat(folder, name.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

AppendingLineFile::Attempt PosixLineFile::appendOnce(const std::string& path, const std::string& bytes) {
    // The folder is reached anew for each line, never through a link: one
    // put on the way since the last line is refused, not followed.
    const posix::WalkedFolder folder = posix::WalkToFolder(posix::FolderOf(path), false);
    if (folder.fd < 0) {
        if (!folder.refused.empty()) return {folder.refused};
        return {posix::ErrnoText(folder.error), folder.error == ENOENT};
    }
    const int fd = OpenForAppend(folder.fd, posix::NameOf(path));
    const int openError = fd < 0 ? errno : 0;
    ::close(folder.fd);
    if (fd < 0) {
        // A pipe nobody reads, a device that is not there; and, said plainly,
        // the link O_NOFOLLOW turned away.
        if (openError == ENXIO) return {kNotRegular};
        if (openError == ELOOP) return {"a symbolic link, not followed there"};
        return {posix::ErrnoText(openError), openError == ENOENT};
    }
    // A pipe with a reader, a device: opened, but no place for a log.
    struct stat st {};
    const int statError = ::fstat(fd, &st) == 0 ? 0 : errno;
    if (statError != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {statError != 0 ? posix::ErrnoText(statError) : kNotRegular};
    }
    // One write call for the whole line where the kernel allows it, so lines
    // of another program appending to the same file do not interleave.
    std::size_t written = 0;
    int error = posix::WriteAll(fd, bytes, &written);
    // A full disk or a network file system may only tell at close.
    if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error == 0) return {};
    return {posix::ErrnoText(error), false, written};
}

std::string PosixLineFile::makeFolders(const std::string& folder) {
    // Made the way lines are written, so that no link on it is followed.
    const posix::WalkedFolder made = posix::WalkToFolder(folder, true);
    if (made.fd >= 0) ::close(made.fd);
    if (!made.refused.empty()) return made.refused;
    return made.fd >= 0 ? std::string() : posix::ErrnoText(made.error);
}

}  // namespace dervix
