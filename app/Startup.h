#pragma once
// Telling the operator when the program cannot get past its first steps
// (the runtime folder, the one-instance lock, the simulated module).
#include <cstdio>
#include <optional>
#include <string>

namespace dervix {

// Why the program cannot start, told on standard error and, since a program
// started from the desktop menu has nobody reading that, in a box titled
// "Dervix" when a desktop can show one. Returns the exit code to end with.
int StartupFailure(int& argc, char** argv, const std::string& reason);

// Whether the system names a display for Qt's own platform to show windows
// on: each system's own answer, defined in its folder beside its factory.
bool DisplayNamed();

// What taking the instance lock (a system's own kind) came to: nothing when
// the program goes on; else the exit code it ends with, 0 when another
// instance runs (not a failure: the operator simply has it already).
template <typename Lock>
std::optional<int> Entered(int& argc, char** argv, Lock& instance, typename Lock::Outcome outcome) {
    switch (outcome) {
        case Lock::Outcome::Acquired: return std::nullopt;
        case Lock::Outcome::HeldElsewhere:
            std::fprintf(stderr, "dervix: already running\n");
            return 0;
        case Lock::Outcome::Failed: break;
    }
    return StartupFailure(argc, argv, instance.error());
}

}  // namespace dervix
