#pragma once
#include <string>
#include <utility>

#include "platform/System.h"

namespace dervix {

// The log file: opened for appending (created 0644 when absent), written
// whole and closed again for every line, so each line is on disk once
// append() returns and nothing is lost when the program ends abruptly.
// folderToMake, when given, is made (mode 0700, with its parents) the first
// time a line finds it missing; any other missing folder is a failure.
// Only a regular file is written: a named pipe or a device is refused without
// waiting for it. A symbolic link in the file's own place is followed only
// when followLink says so (a place the user named himself); in a folder
// others may write to, it would send the lines wherever its planter chose.
class PosixLineFile : public LineFile {
public:
    PosixLineFile() = default;
    PosixLineFile(std::string folderToMake, bool followLink)
        : folderToMake_(std::move(folderToMake)), followLink_(followLink) {}
    std::string append(const std::string& path, const std::string& bytes) override;

private:
    int openForAppend(const std::string& path) const;

    std::string folderToMake_;
    bool followLink_ = false;
};

}  // namespace dervix
