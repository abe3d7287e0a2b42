#pragma once
// Where the event log goes: the same choice on every system, made from what
// each system knows.
#include <functional>
#include <string>

namespace dervix {

struct LogPlace {
    std::string path;          // the log file
    std::string folderToMake;  // made on demand when missing; empty: none
};

// What a system knows that decides the place, in its own path form.
struct LogPlaceFacts {
    // The log the user named (DERVIX_LOG), made absolute and its links
    // resolved now, once; empty when none was named.
    std::string chosen;
    // Dervix.txt in the program's own folder.
    std::string besideProgram;
    // The user's own folder for it, made when the first line is written: an
    // installed program's folder belongs to the administrators, so a log
    // kept only beside the executable would be lost exactly where it is
    // needed.
    std::string userFolder;
    char separator = '/';
};

// The user's choice; else beside the program when canAppend says this
// process may append there; else Dervix.txt in the user's folder.
LogPlace ChooseLogPlace(const LogPlaceFacts& facts, const std::function<bool(const std::string&)>& canAppend);

}  // namespace dervix
