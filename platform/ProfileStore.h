#pragma once
#include <optional>
#include <string>

namespace dervix {

// The per-user profile file. Section and key names match without regard to
// case. read() gives nullopt for an absent file, section or key.
class ProfileStore {
public:
    virtual ~ProfileStore() = default;
    virtual std::optional<std::string> read(const std::string& section, const std::string& key) = 0;
    // Returns false when the value could not be stored; callers that must
    // not lose data can tell, the rest ignore it.
    virtual bool write(const std::string& section, const std::string& key, const std::string& value) = 0;
};

}  // namespace dervix
