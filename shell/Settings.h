#pragma once
#include <string>

#include "platform/ProfileStore.h"
#include "shell/Globals.h"

namespace dervix {

class Settings {
public:
    explicit Settings(ProfileStore& store) : store_(store) {}

    // A key's text (at most 254 characters) or the empty text.
    std::string GetIniValue(const std::string& section, const std::string& key);
    // Returns whether the value reached the file; most callers need not look.
    bool WriteIniValue(const std::string& section, const std::string& key, const std::string& value);
    // Loads PortSettings, PortNumber and ModuleAddress; the empty text when the
    // port settings are complete, else the message of the last failing test.
    std::string CheckSettings(Globals& g);
    // The short form of a folder (a UTF-8 path, as the program folder is
    // known), as a value of the profile: on Windows GetShortPathNameW's, "\"
    // between its parts, in the logic's text; the path as given where the
    // system has no short form. Linux has no short names: the path unchanged.
    static std::string GetShortPath(const std::string& path);

    static constexpr std::size_t kMaxValueLength = 254;

private:
    ProfileStore& store_;
};

}  // namespace dervix
