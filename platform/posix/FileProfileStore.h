#pragma once
// The profile as a text file of its own (there is no per-user profile of the
// desktop on Linux), in the Windows-profile form the text rules expect.
#include <cstddef>
#include <string>

#include "platform/ProfileStore.h"

namespace dervix {

// $DERVIX_PROFILE if set, else $XDG_CONFIG_HOME/dervix/profile.ini, else
// ~/.config/dervix/profile.ini. An XDG_CONFIG_HOME that is not an absolute
// path is ignored, as the XDG rules ask.
std::string ProfilePath();

class FileProfileStore : public ProfileStore {
public:
    explicit FileProfileStore(std::string path);

    // An absent or unreadable file reads as empty; a read never fails.
    std::optional<std::string> read(const std::string& section, const std::string& key) override;
    // Atomic and durable, under the lock on "<profile>.lock" held across the
    // whole read-modify-write. False when the value could not be stored, and
    // always when the present file cannot be read (writing then would drop
    // every other section) or has no write permission for its owner.
    bool write(const std::string& section, const std::string& key, const std::string& value) override;

    const std::string& path() const { return path_; }
    // Why the last failed write failed (empty after a good one).
    const std::string& lastError() const { return lastError_; }

    // A profile is a few hundred bytes; anything past this is not one, and is
    // neither read in full nor rewritten.
    static constexpr std::size_t kMaxSize = 16u << 20;

private:
    bool fail(std::string why);

    std::string path_;
    std::string lastError_;
};

}  // namespace dervix
