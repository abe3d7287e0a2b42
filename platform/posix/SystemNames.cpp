#include "platform/SystemNames.h"

namespace dervix {

std::string ShortFolderPath(const std::string& path) { return path; }

std::string StandardPortDevice(int portNumber) { return "/dev/ttyS" + std::to_string(portNumber - 1); }

}  // namespace dervix
