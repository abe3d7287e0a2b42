#pragma once
// The profile where Windows keeps it: the user's WIN.INI, through the
// desktop's own profile calls, which match section and key names without
// regard to case and follow the system's mapping of a WIN.INI section to the
// user's registry. A file of the same form may stand in for it.
#include <cstddef>
#include <string>
#include <vector>

#include "platform/ProfileStore.h"

namespace dervix {

// $DERVIX_PROFILE, the stand-in file, or the empty text for the user's
// WIN.INI.
std::string WinProfilePath();

// The wide profile calls, so that any path and any text reach them as they
// are: names and values are the logic's Latin-1 text, converted here and
// nowhere else; paths are UTF-8.
class WinIniProfileStore : public ProfileStore {
public:
    // The user's WIN.INI.
    WinIniProfileStore() = default;
    // A profile file of the same form (a UTF-8 path); the empty path stands
    // for WIN.INI. A relative path is taken from the working folder (the
    // profile calls would look for it in the Windows folder). Its folder is
    // made, with its parents, when the first write finds it missing.
    explicit WinIniProfileStore(const std::string& path);

    std::optional<std::string> read(const std::string& section, const std::string& key) override;
    // False when the profile calls fail, and for a stand-in file marked
    // read-only, even when it already holds the value.
    bool write(const std::string& section, const std::string& key, const std::string& value) override;

    // The names of the keys section holds, in the store's order.
    std::vector<std::string> keys(const std::string& section);

    // The stand-in file as used (UTF-8), or the empty text for WIN.INI.
    const std::string& path() const { return path_; }

    // A value is a line of text; past this it is taken as it stands.
    static constexpr std::size_t kMaxValue = 1u << 20;

private:
    // The profile call's text for section and key (key null: the key names).
    std::wstring get(const wchar_t* section, const wchar_t* key, const wchar_t* fallback);

    std::string path_;
    std::wstring widePath_;
};

}  // namespace dervix
