#include "platform/AppendingLineFile.h"

namespace dervix {

bool AppendingLineFile::inFolderToMake(const std::string& path) const {
    const std::size_t n = folderToMake_.size();
    if (n == 0 || path.size() <= n + 1 || path.compare(0, n, folderToMake_) != 0) return false;
    if (path[n] != '/' && path[n] != '\\') return false;
    return path.find_first_of("/\\", n + 1) == std::string::npos;
}

std::string AppendingLineFile::append(const std::string& path, const std::string& bytes) {
    const std::string line = torn_ ? "\r\n" + bytes : bytes;
    Attempt attempt = appendOnce(path, line);
    // The user's folder may not exist yet, or may have been cleared while
    // the program runs; it is made again rather than losing the log.
    if (attempt.folderMissing && inFolderToMake(path)) {
        if (std::string error = makeFolders(folderToMake_); !error.empty()) return error;
        attempt = appendOnce(path, line);
    }
    if (attempt.error.empty())
        torn_ = false;
    else if (attempt.written > 0)
        torn_ = true;
    return attempt.error;
}

}  // namespace dervix
