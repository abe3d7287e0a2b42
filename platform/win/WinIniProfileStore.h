#pragma once
// The profile where Windows keeps it: the user's WIN.INI, through the
// desktop's own profile calls, which match section and key names without
// regard to case. A file of the same form may stand in for it.
#include <cstddef>
#include <string>

#include "platform/ProfileStore.h"

namespace dervix {

// $DERVIX_PROFILE, the stand-in file, or the empty text for the user's
// WIN.INI.
std::string WinProfilePath();

class WinIniProfileStore : public ProfileStore {
public:
    // The user's WIN.INI.
    WinIniProfileStore() = default;
    // A profile file of the same form (a UTF-8 path); the empty path stands
    // for WIN.INI. A relative path is taken from the working folder (the
    // profile calls would look for it in the Windows folder). The profile
    // calls take the path in the ANSI code page: a folder named with a
    // character outside it cannot be reached.
    explicit WinIniProfileStore(const std::string& path);

    std::optional<std::string> read(const std::string& section, const std::string& key) override;
    // False when the profile calls fail, and for a stand-in file marked
    // read-only, even when it already holds the value.
    bool write(const std::string& section, const std::string& key, const std::string& value) override;

    // The stand-in file as used (UTF-8), or the empty text for WIN.INI.
    const std::string& path() const { return path_; }

    // A value is a line of text; past this it is taken as it stands.
    static constexpr std::size_t kMaxValue = 1u << 20;

private:
    std::string path_;
    std::string ansiPath_;
};

}  // namespace dervix
