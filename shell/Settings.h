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
    // The short form of a folder, as the system gives it (SystemNames.h).
    static std::string GetShortPath(const std::string& path);

    static constexpr std::size_t kMaxValueLength = 254;

private:
    ProfileStore& store_;
};

}  // namespace dervix
