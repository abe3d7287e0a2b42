#include "platform/posix/LogPlace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/FileOps.h"

namespace dervix {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The file a path names now: a link the user named (the log kept on
// another disk, say) is followed once, here. A file not there yet counts
// for its folder's real place.
std::string Resolved(const std::string& path) {
    std::string named = path;
    for (int hops = 0; hops < 40; ++hops) {
        if (char* real = ::realpath(named.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
        char target[4096];
        const ssize_t n = ::readlink(named.c_str(), target, sizeof target - 1);
        if (n <= 0) break;  // not a dangling link: a file to be made
        target[n] = '\0';
        named = target[0] == '/' ? std::string(target) : posix::FolderOf(named) + "/" + target;
    }
    char* folder = ::realpath(posix::FolderOf(named).c_str(), nullptr);
    if (!folder) return named;
    std::string resolved = std::string(folder) + "/" + posix::NameOf(named);
    std::free(folder);
    return resolved;
}

}  // namespace

bool CanAppend(const std::string& file) {
    if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0) return true;
    // Only an absent file leaves the choice to its folder: one that exists
    // but refuses this user is not made writable by a writable folder.
    if (errno != ENOENT) return false;
    return ::faccessat(AT_FDCWD, posix::FolderOf(file).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

LogPlace ChooseLogPlace(const std::string& programFolder, const std::function<bool(const std::string&)>& canAppend) {
    LogPlaceFacts facts;
    facts.chosen = Env("DERVIX_LOG");
    if (!facts.chosen.empty()) {
        // Made absolute, so the notice of a failure names the file for certain.
        if (facts.chosen[0] != '/') {
            char cwd[4096];
            if (::getcwd(cwd, sizeof cwd)) facts.chosen = std::string(cwd) + "/" + facts.chosen;
        }
        // From now on the file is opened without following links: one put in
        // its place later, in a folder others may write to, is refused.
        facts.chosen = Resolved(facts.chosen);
    }
    facts.besideProgram = programFolder + "/Dervix.txt";
    // Relative values are not valid there; the default takes their place.
    std::string state = Env("XDG_STATE_HOME");
    if (state.empty() || state[0] != '/') state = posix::HomeFolder() + "/.local/state";
    facts.userFolder = state + "/dervix";
    return ChooseLogPlace(facts, canAppend);
}

}  // namespace dervix
