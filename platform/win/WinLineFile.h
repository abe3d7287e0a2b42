#pragma once
#include <string>

#include "platform/AppendingLineFile.h"

namespace dervix {

// The log file on Windows: opened for appending only (created when absent,
// shared with readers and other writers). Paths are UTF-8. Only a disk file
// is written: a device or a pipe is refused, and so is a link in the file's
// own place (a link the user named is resolved once, when the log's place
// is chosen).
class WinLineFile : public AppendingLineFile {
public:
    using AppendingLineFile::AppendingLineFile;

protected:
    Attempt appendOnce(const std::string& path, const std::string& bytes) override;
    std::string makeFolders(const std::string& folder) override;
};

// Makes folder and any missing parents (UTF-8). Returns 0 or the
// GetLastError() code of the failure.
unsigned long MakeWinFolders(const std::string& folder);

// The folder part of a path, "/" and "\" alike; the empty text when none.
std::string WinFolderOf(const std::string& path);

}  // namespace dervix
