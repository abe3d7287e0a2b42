#include "platform/posix/LogPlace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/posix/FileOps.h"
#include "platform/posix/FolderWalk.h"

namespace dervix {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The place a path names now, its links followed once, here, as realpath
// does: a link the user made (the log kept on another disk, say) leads to
// its target from then on. A link that is not his or root's, or that lies in
// a folder another user may change, is not followed, nor anything past it:
// it may have been planted there, and the path is kept as named, for the
// writing of each line to refuse. Names not there yet are kept as they are.
std::string Resolved(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::vector<std::string> names;  // still to walk, the next one last
    const auto push = [&names](const std::string& p) {
        std::vector<std::string> parts;
        for (std::size_t at = 0; at <= p.size();) {
            const std::size_t end = std::min(p.find('/', at), p.size());
            if (end > at && p.compare(at, end - at, ".") != 0) parts.push_back(p.substr(at, end - at));
            at = end + 1;
        }
        names.insert(names.end(), parts.rbegin(), parts.rend());
    };
    const auto rest = [&names](std::string p) {
        for (auto it = names.rbegin(); it != names.rend(); ++it) p += "/" + *it;
        return p;
    };
    push(path);
    std::string real;  // the real folder reached so far; empty: the root
    for (int links = 0; !names.empty();) {
        const std::string name = std::move(names.back());
        names.pop_back();
        if (name == "..") {
            real.resize(real.empty() ? 0 : real.rfind('/'));
            continue;
        }
        const std::string next = real + "/" + name;
        struct stat st {};
        if (::lstat(next.c_str(), &st) != 0) return rest(next);
        if (!S_ISLNK(st.st_mode)) {
            real = next;
            continue;
        }
        struct stat holder {};
        char target[4096];
        const ssize_t n = ::readlink(next.c_str(), target, sizeof target - 1);
        if (++links > 40 || n <= 0 || (st.st_uid != ::geteuid() && st.st_uid != 0) ||
            ::lstat(real.empty() ? "/" : real.c_str(), &holder) != 0 ||
            !posix::OthersMayChange(real, holder).empty())
            return rest(next);
        if (target[0] == '/') real.clear();
        push(std::string(target, static_cast<std::size_t>(n)));
    }
    return real.empty() ? "/" : real;
}

}  // namespace

bool CanAppend(const std::string& file) {
    // Every line would be refused there: the user's folder does better.
    const posix::WalkedFolder way = posix::WalkToFolder(posix::FolderOf(file), false);
    if (way.fd >= 0) ::close(way.fd);
    if (!way.refused.empty()) return false;
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
        // From now on no link is followed on the way to the file: one put
        // there later is refused.
        facts.chosen = Resolved(facts.chosen);
    }
    // The folders' own links are resolved too; the file's name is not, a
    // link put there is refused.
    facts.besideProgram = Resolved(programFolder) + "/Dervix.txt";
    // Relative values are not valid there; the default takes their place.
    std::string state = Env("XDG_STATE_HOME");
    if (state.empty() || state[0] != '/') state = posix::HomeFolder() + "/.local/state";
    facts.userFolder = Resolved(state + "/dervix");
    return ChooseLogPlace(facts, canAppend);
}

}  // namespace dervix
