#pragma once
#include "platform/System.h"

namespace dervix {

// The log file: opened for appending (created 0644 when absent), written
// whole and closed again for every line, so each line is on disk once
// append() returns and nothing is lost when the program ends abruptly.
class PosixLineFile : public LineFile {
public:
    std::string append(const std::string& path, const std::string& bytes) override;
};

}  // namespace dervix
