#pragma once
// Where the event log goes on POSIX.
#include <functional>
#include <string>

#include "platform/LogPlace.h"

namespace dervix {

// True when this process may append to file: the file itself when it exists,
// else the folder that would hold it. Judged by the kernel's own rules for
// this process (access(2) with the effective ids), not by mode bits; and
// false when a folder on the way is one that another user may change, as
// each line written there would be refused.
bool CanAppend(const std::string& file);

// $DERVIX_LOG when set (taken from the working folder when relative, links
// in it resolved now, once, but none that another user could have planted);
// else
// <programFolder>/Dervix.txt when canAppend says so; else
// $XDG_STATE_HOME/dervix/Dervix.txt, by default ~/.local/state/dervix/Dervix.txt,
// whose dervix folder is made when the first line is written.
LogPlace ChooseLogPlace(const std::string& programFolder,
                        const std::function<bool(const std::string&)>& canAppend = CanAppend);

}  // namespace dervix
