#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavel {

class AccessRecord;
class SpiderList;

// Codes of the rules that are not a status code themselves.
namespace suspicion_code {
inline constexpr std::int32_t None = -1;
inline constexpr std::int32_t Executable = 150; // + position in the executable kinds
inline constexpr std::int32_t ParentPath = 160;
inline constexpr std::int32_t MethodPut = 162;
inline constexpr std::int32_t MethodDelete = 163;
inline constexpr std::int32_t NewSpider = 902;
} // namespace suspicion_code

// What kind of exception an access is: a request rule, a status of 401, another failed status,
// several rules at once, or a new spider.
enum class SuspicionKind : std::uint8_t { Request, Unauthorized, Status, Several, Spider };

// Final state of the exception rules for one access: Code stays -1 when no rule fired, and
// then nothing is to be listed.
struct SuspicionCheck {
    std::int32_t Code = -1;
    SuspicionKind Kind = SuspicionKind::Request;
    std::string Message;
};

// Runs the exception rules over the access in their fixed order; each rule that
// fires overwrites code and message. No access fires nothing. The search-engine rule asks the
// spiders list.
SuspicionCheck CheckSuspicious(const AccessRecord* access, const SpiderList& spiders);
// The same code and kind without the message, for a count of what fired. Reads no text of
// an access that keeps its request facts, but its looked-up name.
SuspicionCheck CheckSuspiciousCode(const AccessRecord* access, const SpiderList& spiders);
// What the rules read of the access' page and method, to be kept in it
// (AccessRecord::SetRequestFacts): never 0.
std::uint16_t FindRequestFacts(const AccessRecord& access);

// The English reason text of an HTTP status code; "Unknown Status Code" for any code not
// in the table.
std::string_view StatusText(std::int32_t code);

} // namespace kavel
