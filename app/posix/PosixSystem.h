#pragma once
// The program's adapters on Linux and other POSIX systems.
#include <optional>

#include "platform/posix/Runtime.h"

namespace dervix {

// Makes the runtime folder ready and takes the instance lock. Nothing when
// the program goes on; else the exit code it ends with (see Entered).
std::optional<int> EnterRuntime(int& argc, char** argv, FolderResult& runtime, InstanceLock& instance);

}  // namespace dervix
