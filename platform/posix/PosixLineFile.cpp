#include "platform/posix/PosixLineFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/FileOps.h"

namespace dervix {

namespace {

const char* const kNotRegular = "not a regular file";

int OpenForAppend(const std::string& path) {
    // Without O_NONBLOCK, opening a named pipe waits for a reader: for ever
    // once a log collector has ended, and the whole program with it.
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

AppendingLineFile::Attempt PosixLineFile::appendOnce(const std::string& path, const std::string& bytes) {
    const int fd = OpenForAppend(path);
    if (fd < 0) {
        // A pipe nobody reads, a device that is not there; and, said plainly,
        // the link O_NOFOLLOW turned away.
        if (errno == ENXIO) return {kNotRegular};
        if (errno == ELOOP) return {"a symbolic link, not followed there"};
        return {posix::ErrnoText(errno), errno == ENOENT};
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
    const int error = posix::MakeFolders(folder, 0700);
    return error == 0 ? std::string() : posix::ErrnoText(error);
}

}  // namespace dervix
