#pragma once
// Reading and editing the text of a profile file without disturbing anything
// else in it: other sections, keys, comments and blank lines stay byte for byte.
#include <optional>
#include <string>

namespace dervix {

// The value of key in section (first matching section counts, names match
// without regard to case), or nullopt when absent.
std::optional<std::string> IniLookup(const std::string& content, const std::string& section,
                                     const std::string& key);

// content with key set to value: replaced in place keeping the key's
// spelling, or added at the end of its section, or a new section appended.
std::string IniUpdate(const std::string& content, const std::string& section, const std::string& key,
                      const std::string& value);

}  // namespace dervix
