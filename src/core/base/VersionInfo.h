#pragma once

#include <string>
#include <string_view>

namespace kavel {

// Version information of the executable. The values are compiled in; fileName is accepted for
// the interface's sake and only the running program's information exists. "?" for an
// unknown key.
std::string VersionInfoValue(std::string_view fileName, std::string_view key);
std::string ProductName();

} // namespace kavel
