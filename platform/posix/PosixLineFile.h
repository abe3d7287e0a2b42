#pragma once
#include <string>

#include "platform/AppendingLineFile.h"

namespace dervix {

// The log file on POSIX: created 0644 when absent, its folder to make 0700.
// Only a regular file is written: a named pipe or a device is refused
// without waiting for it. A symbolic link in the file's own place is never
// followed: in a folder others may write to, it would send the lines
// wherever its planter chose. (A link the user named himself is resolved
// once, when the log's place is chosen.)
class PosixLineFile : public AppendingLineFile {
public:
    using AppendingLineFile::AppendingLineFile;

protected:
    Attempt appendOnce(const std::string& path, const std::string& bytes) override;
    std::string makeFolders(const std::string& folder) override;
};

}  // namespace dervix
