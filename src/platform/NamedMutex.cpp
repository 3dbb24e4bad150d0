#include "platform/NamedMutex.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavel::platform {

namespace {

std::filesystem::path LockFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        std::error_code ec;
        if (std::filesystem::is_directory(runtime, ec))
            return runtime;
    }
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    return ec ? std::filesystem::path("/tmp") : temp;
}

// Any byte that could leave the folder or confuse a shell becomes "_"; the product name
// "?" of a program without version information still gives a usable name.
std::string FileNamePart(std::string_view name) {
    std::string part;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || c == '.';
        part += plain ? c : '_';
    }
    if (part.empty() || part[0] == '.')
        part.insert(0, "_");
    return part;
}

} // namespace

std::filesystem::path NamedMutex::LockFile(std::string_view name) {
    return LockFolder() / (FileNamePart(name) + "-" + std::to_string(::getuid()) + ".lock");
}

NamedMutex::NamedMutex(std::string_view name) {
    const std::string file = LockFile(name).string();
    int fd;
    do {
        fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return;
    Fd_ = fd;
    int rc;
    do {
        rc = ::flock(Fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        AlreadyExisted_ = errno == EWOULDBLOCK;
    if (rc != 0 && !AlreadyExisted_) {
        ::close(Fd_);
        Fd_ = -1;
    }
}

NamedMutex::~NamedMutex() {
    Release();
}

void NamedMutex::Release() {
    if (Fd_ < 0)
        return;
    // Closing drops the flock; the file stays so that the next holder need not create it.
    ::close(Fd_);
    Fd_ = -1;
}

} // namespace kavel::platform
