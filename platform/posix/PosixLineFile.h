#pragma once
#include <string>

#include "platform/AppendingLineFile.h"

namespace dervix {

// The log file on POSIX: created 0644 when absent, its folder to make 0700.
// Only a regular file is written: a named pipe or a device is refused
// without waiting for it. No symbolic link is followed, neither in the
// file's own place nor on the way to it (the folders are opened one at a
// time from the root for each line), and a folder on the way that another
// user may change is refused: either would send the lines wherever someone
// else chose. (A link the user made himself is resolved once, when the log's
// place is chosen.) The folder to make is made the same way.
class PosixLineFile : public AppendingLineFile {
public:
    using AppendingLineFile::AppendingLineFile;

protected:
    Attempt appendOnce(const std::string& path, const std::string& bytes) override;
    std::string makeFolders(const std::string& folder) override;
};

}  // namespace dervix
