#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kavel {

namespace platform {
class NamedMutex;
}

// The single-instance check over a named per-user lock (the program names it by its workspace,
// WorkspaceLockName), held by the program's main for its run. askAnotherInstance asks the user
// "Die Anwendung wurde bereits gestartet. Möchten Sie sie noch ein weiteres Mal starten?" with
// the product name as caption and answers true for Yes.
using AskAnotherInstance = std::function<bool(const std::string& question, const std::string& caption)>;
class InstanceLock {
public:
    InstanceLock();
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Whether this instance may go on: the first instance takes the lock and holds it until
    // Release or its destruction; a later one asks. A lock that cannot be created at all lets
    // the instance go on.
    bool Check(const AskAnotherInstance& askAnotherInstance, std::string_view lockName);
    void Release();

private:
    std::unique_ptr<platform::NamedMutex> Lock_;
};
inline constexpr const char* SecondInstanceQuestion = "Die Anwendung wurde bereits gestartet. M\xC3\xB6"
                                                      "chten Sie sie noch ein weiteres Mal starten?";

// The lock that guards one workspace: what two instances must not share are the definition
// files they write back, so two instances on different workspaces run side by side. Named
// after the product and the workspace folder's canonical path (links resolved), so every way
// of naming one folder gives the same lock.
std::string WorkspaceLockName(const std::filesystem::path& workspace);

} // namespace kavel
