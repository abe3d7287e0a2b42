#pragma once
// One instance of the program per user: a named mutex in the session's own
// namespace, held for the program's life. Windows removes it when the last
// handle closes, so an instance that crashed never blocks the next.
#include <string>

namespace dervix {

class WinInstance {
public:
    enum class Outcome { Acquired, HeldElsewhere, Failed };

    WinInstance() = default;
    WinInstance(const WinInstance&) = delete;
    WinInstance& operator=(const WinInstance&) = delete;
    ~WinInstance();

    // name: the mutex's name; the user's name is added to it, so two users
    // of one session each get their own instance.
    Outcome acquire(const std::string& name = "Local\\Dervix-Instance");
    bool held() const { return handle_ != nullptr; }
    void release();
    const std::string& error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace dervix
