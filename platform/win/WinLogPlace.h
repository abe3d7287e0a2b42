#pragma once
// Where the event log goes on Windows.
#include <functional>
#include <string>

#include "platform/LogPlace.h"

namespace dervix {

// True when this process may append to file (UTF-8): the file itself when it
// exists, else the folder that would hold it, tried with a file of its own
// that is gone again at once. Judged by the system's own access rules.
bool WinCanAppend(const std::string& file);

// %DERVIX_LOG% when set (taken from the working folder when relative, its
// links resolved now, once); else
// <programFolder>\Dervix.txt when canAppend says so; else
// %LOCALAPPDATA%\Dervix\Dervix.txt, whose Dervix folder is made when the
// first line is written. Paths are UTF-8, with "\" between their parts.
LogPlace ChooseWinLogPlace(const std::string& programFolder,
                           const std::function<bool(const std::string&)>& canAppend = WinCanAppend);

}  // namespace dervix
