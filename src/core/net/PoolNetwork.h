#pragma once

#include <string>
#include <string_view>

namespace kavel {

// Cached reverse look-up of a client address: true with the host name when the address has
// a name; every address is asked at most once per run.
bool ResolveAddress(std::string_view address, std::string& hostName);

} // namespace kavel
