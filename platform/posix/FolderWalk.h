#pragma once
// A path walked one name at a time from the root, for a file written again
// and again over a long run (the event log): between two lines, another user
// who may change a folder on its way could rename a part of it and put a
// link or a folder of his own there, and the next line would go where he
// chose. O_NOFOLLOW on the last name alone does not see that.
#include <sys/stat.h>

#include <string>

namespace dervix::posix {

// Why another user may change what the folder holds, or the empty text: a
// folder of someone other than this user or root, or one that others may
// write to without the sticky bit. A group that is this user's private one
// (his name, nobody else in it) is his own.
std::string OthersMayChange(const std::string& folder, const struct stat& st);

struct WalkedFolder {
    int fd = -1;          // the folder, for the *at calls; the caller closes it. -1: not reached
    int error = 0;        // the errno value of the step that failed
    std::string refused;  // or why the way was refused: a link on it, a folder others may change
};

// Opens folder one name at a time from "/" (or from the working folder, for
// a relative one) without following a link, each folder on the way and the
// folder itself checked with OthersMayChange. makeMissing makes the missing
// folders on the way, mode 0700, as it goes.
WalkedFolder WalkToFolder(const std::string& folder, bool makeMissing);

}  // namespace dervix::posix
