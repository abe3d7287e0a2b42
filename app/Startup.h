#pragma once
// The steps before the main window: the runtime folder, the one-instance
// lock, and telling the operator when the program cannot get past them.
#include <optional>
#include <string>

#ifdef _WIN32
#include "platform/win/WinInstance.h"
#else
#include "platform/posix/Runtime.h"
#endif

namespace dervix {

// Why the program cannot start, told on standard error and, since a program
// started from the desktop menu has nobody reading that, in a box titled
// "Dervix" when a desktop can show one. Returns the exit code to end with.
int StartupFailure(int& argc, char** argv, const std::string& reason);

// Makes the runtime folder ready and takes the instance lock. Nothing when
// the program goes on; else the exit code it ends with: 0 when another
// instance runs (not a failure: the operator simply has it already), and a
// failure's code, after StartupFailure, when the folder or the lock cannot
// be used.
#ifdef _WIN32
// Windows keeps no runtime folder: the instance is a named mutex, and other
// programs reach this one through DDE.
std::optional<int> EnterRuntime(int& argc, char** argv, WinInstance& instance);
#else
std::optional<int> EnterRuntime(int& argc, char** argv, FolderResult& runtime, InstanceLock& instance);
#endif

}  // namespace dervix
