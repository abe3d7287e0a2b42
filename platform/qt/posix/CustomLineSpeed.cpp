#include "platform/qt/posix/CustomLineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace dervix {

bool SetCustomSpeed(int fd, int baud) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace dervix
