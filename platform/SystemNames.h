#pragma once
// What each system names in its own way; defined once in each system's
// folder (platform/posix/, platform/win/).
#include <string>

namespace dervix {

// The short form of a folder (a UTF-8 path), as the profile's "AppPath" and
// the log's default place take it, in the logic's text. Windows gives its
// short names with "\" between the parts (where it has none, the folder as
// given, with "\" too); a system without short names, the path unchanged.
std::string ShortFolderPath(const std::string& path);

// The device of the system's standard serial port portNumber (from 1).
std::string StandardPortDevice(int portNumber);

}  // namespace dervix
