#include "platform/SystemNames.h"

#include "platform/win/WinText.h"

namespace dervix {

std::string ShortFolderPath(const std::string& path) { return win::ToLatin1(win::ShortPath(win::Widen(path))); }

std::string StandardPortDevice(int portNumber) { return "COM" + std::to_string(portNumber); }

}  // namespace dervix
