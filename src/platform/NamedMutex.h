#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavel::platform {

// A lock named for the current user that lives as long as the process holding it: an flock on
// a file in $XDG_RUNTIME_DIR (or the temporary folder), named after the lock and the user id.
// The kernel drops the lock when the holder ends, so a crashed instance never blocks the next.
// Each NamedMutex opens the file anew, so two objects of one process exclude each other too.
class NamedMutex {
public:
    // Creates the lock file when missing and tries to take the lock without waiting.
    explicit NamedMutex(std::string_view name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Whether another holder had the lock when this object was created.
    bool AlreadyExisted() const { return AlreadyExisted_; }
    // Whether this object holds the lock.
    bool Owned() const { return Fd_ >= 0 && !AlreadyExisted_; }
    // Whether the lock file could be opened at all; when not, the lock state is unknown.
    bool Valid() const { return Fd_ >= 0; }
    void Release();

    static std::filesystem::path LockFile(std::string_view name);

private:
    int Fd_ = -1;
    bool AlreadyExisted_ = false;
};

} // namespace kavel::platform
