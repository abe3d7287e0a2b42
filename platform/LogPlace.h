#pragma once
// Where the event log goes, as each system's own choice of place gives it.
#include <string>

namespace dervix {

struct LogPlace {
    std::string path;          // the log file
    std::string folderToMake;  // made on demand when missing; empty: none
};

}  // namespace dervix
