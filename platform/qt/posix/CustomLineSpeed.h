#pragma once
// A line speed that termios has no name for (Linux: the kernel's BOTHER).
// Apart, because the kernel's termios header and the C library's cannot meet
// in one file.

namespace dervix {

// Sets baud on the open terminal fd, the rest of its settings kept; false
// with errno set when the device refuses it.
bool SetCustomSpeed(int fd, int baud);

}  // namespace dervix
