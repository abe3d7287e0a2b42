#pragma once
// Reading and editing the text of a profile file without disturbing anything
// else in it: other sections, keys, comments and blank lines stay byte for byte.
#include <optional>
#include <string>
#include <vector>

namespace dervix {

// The value of key in section (first matching section counts, names match
// without regard to case), or nullopt when absent.
std::optional<std::string> IniLookup(const std::string& content, const std::string& section,
                                     const std::string& key);

// The names of the keys in section (first matching section), each once, as
// first spelt, in the order they stand; empty when there is no such section.
std::vector<std::string> IniKeys(const std::string& content, const std::string& section);

// content with key set to value: replaced in place keeping the key's
// spelling, or added at the end of its section, or a new section appended.
std::string IniUpdate(const std::string& content, const std::string& section, const std::string& key,
                      const std::string& value);

// value as a profile line holds it: a line break in a value must never start
// a key of its own, so CR, LF and NUL become blanks; a value that reading
// would take for a quoted one loses its outer blanks and gets a pair of other
// quotes, so it reads back as given. Any store of this form, the desktop's
// own profile too, takes the result as it is.
std::string IniStorableValue(const std::string& value);

}  // namespace dervix
