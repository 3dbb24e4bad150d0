#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kavel {

// Cached reverse look-up of a client address: true with the host name when the address has
// a name; every address is asked at most once per run.
//
// Addresses are compared ignoring ASCII case. A failed look-up is cached as well; a text that
// is no numeric address fails at once, without a query and without taking cache space. Reader
// threads call this at the same time: a second caller asking for an address whose query is
// still running waits for that query's answer instead of asking again; callers asking for
// different addresses never wait for each other. On failure hostName is set to empty text.
bool ResolveAddress(std::string_view address, std::string& hostName);

// One reverse query, without the cache. The text must be a numeric IPv4 or IPv6 address; any
// other text (a host name the web server already wrote, garbage) fails without a query. A
// name that could not be stored safely in a list row or a definition-file line (control
// characters, ";", quotes, blanks, too long) is refused and the look-up fails. On failure
// hostName is left unchanged.
bool LookupHostName(std::string_view address, std::string& hostName);

// The reverse query itself: the name registered for a numeric address, or nothing. The
// address handed in has already been checked to be a numeric IPv4 or IPv6 address.
using HostNameResolver = std::function<std::optional<std::string>(std::string_view address)>;
// Replaces the system resolver (getnameinfo) so that tests never touch the network; an empty
// function restores the system resolver.
void SetHostNameResolver(HostNameResolver resolver);
// Empties the look-up cache. The program never does this; tests need a fresh cache.
void ClearResolveCache();

// Whether the text is a numeric IPv4 or IPv6 address.
bool IsNumericAddress(std::string_view address);
// Whether a resolver's answer may become a host name: not empty, at most 255 bytes, and none
// of control characters, DEL, ";", '"', "'" or blank.
bool IsAcceptableHostName(std::string_view name);

// The socket layer needs no start or clean-up on POSIX systems; these keep the program's
// start and end symmetrical and always succeed.
bool StartSockets();
void StopSockets();

// The address handed to the desktop's browser: "http://" is put in front unless the text
// already begins with exactly "http://" (case matters, so "HTTP://" and "https://" get the
// prefix too).
std::string UrlForOpen(std::string_view text);

} // namespace kavel
