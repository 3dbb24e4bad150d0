#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace kavel {

// Single-instance check over the named per-user lock (the program names it by its workspace,
// WorkspaceLockName). askAnotherInstance asks the user
// "Die Anwendung wurde bereits gestartet. Möchten Sie sie noch ein weiteres Mal starten?" with
// the product name as caption and answers true for Yes. The lock stays held by this process
// until ReleaseSingleInstance or the process' end. A lock that cannot be created at all lets
// the instance continue.
using AskAnotherInstance = std::function<bool(const std::string& question, const std::string& caption)>;
bool CheckSingleInstance(const AskAnotherInstance& askAnotherInstance, std::string_view lockName);
void ReleaseSingleInstance();
inline constexpr const char* SecondInstanceQuestion = "Die Anwendung wurde bereits gestartet. M\xC3\xB6"
                                                      "chten Sie sie noch ein weiteres Mal starten?";

// The lock that guards one workspace: what two instances must not share are the definition
// files they write back, so two instances on different workspaces run side by side. Named
// after the product and the workspace folder's canonical path (links resolved), so every way
// of naming one folder gives the same lock.
std::string WorkspaceLockName(const std::filesystem::path& workspace);

} // namespace kavel
