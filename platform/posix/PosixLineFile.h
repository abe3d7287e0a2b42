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
class PosixLineFile : public LineFile {
public:
    PosixLineFile() = default;
    explicit PosixLineFile(std::string folderToMake) : folderToMake_(std::move(folderToMake)) {}
    std::string append(const std::string& path, const std::string& bytes) override;

private:
    std::string folderToMake_;
};

}  // namespace dervix
