#pragma once
#include <string>
#include <utility>

#include "platform/System.h"

namespace dervix {

// The log file on Windows: opened for appending only (created when absent,
// shared with readers and other writers), written whole and closed again for
// every line, so each line is on disk once append() returns. Paths are
// UTF-8. folderToMake, when given, is made (with its parents) the first time
// a line finds it missing; any other missing folder is a failure. Only a
// disk file is written: a device or a pipe is refused. Links are followed:
// on Windows only an administrator may make one.
class WinLineFile : public LineFile {
public:
    WinLineFile() = default;
    explicit WinLineFile(std::string folderToMake) : folderToMake_(std::move(folderToMake)) {}
    std::string append(const std::string& path, const std::string& bytes) override;

private:
    std::string folderToMake_;
};

// Makes folder and any missing parents (UTF-8). Returns 0 or the
// GetLastError() code of the failure.
unsigned long MakeWinFolders(const std::string& folder);

// The folder part of a path, "/" and "\" alike; the empty text when none.
std::string WinFolderOf(const std::string& path);

}  // namespace dervix
