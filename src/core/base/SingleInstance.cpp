#include "base/SingleInstance.h"

#include "base/VersionInfo.h"
#include "platform/NamedMutex.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <system_error>

namespace kavel {

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() = default;

bool InstanceLock::Check(const AskAnotherInstance& askAnotherInstance, std::string_view lockName) {
    auto mutex = std::make_unique<platform::NamedMutex>(lockName);
    if (mutex->AlreadyExisted())
        return askAnotherInstance && askAnotherInstance(SecondInstanceQuestion, ProductName());
    if (mutex->Owned())
        Lock_ = std::move(mutex);
    return true;
}

void InstanceLock::Release() {
    Lock_.reset();
}

std::string WorkspaceLockName(const std::filesystem::path& workspace) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::weakly_canonical(workspace, ec);
    if (ec)
        folder = std::filesystem::absolute(workspace, ec).lexically_normal();
    // "home/" is the folder "home".
    if (!folder.has_filename() && folder.has_relative_path())
        folder = folder.parent_path();
    // A path may be longer than a file name can be: the lock is named after its FNV-1a hash.
    const std::string text = folder.string();
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return ProductName() + "-" + digits;
}

} // namespace kavel
