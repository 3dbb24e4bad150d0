#include "base/SingleInstance.h"

#include "base/VersionInfo.h"
#include "platform/NamedMutex.h"

#include <memory>
#include <mutex>

namespace kavel {

namespace {

// The lock of the first instance, held until ReleaseSingleInstance or the process' end.
std::mutex SingleInstanceLock;
std::unique_ptr<platform::NamedMutex> SingleInstance;

} // namespace

bool CheckSingleInstance(const AskAnotherInstance& askAnotherInstance) {
    return CheckSingleInstance(askAnotherInstance, ProductName());
}

bool CheckSingleInstance(const AskAnotherInstance& askAnotherInstance, std::string_view lockName) {
    auto mutex = std::make_unique<platform::NamedMutex>(lockName);
    if (mutex->AlreadyExisted())
        return askAnotherInstance && askAnotherInstance(SecondInstanceQuestion, ProductName());
    std::lock_guard guard(SingleInstanceLock);
    if (mutex->Owned())
        SingleInstance = std::move(mutex);
    return true;
}

void ReleaseSingleInstance() {
    std::lock_guard guard(SingleInstanceLock);
    SingleInstance.reset();
}

} // namespace kavel
