#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavel {

class TQueue;

// Image indices that the exception rules give their rows.
namespace image {
inline constexpr int ExceptionNone = 24;
inline constexpr int ExceptionUnauthorized = 22;
inline constexpr int ExceptionStatus = 25;
inline constexpr int ExceptionSeveral = 26;
inline constexpr int ExceptionNewSpider = 6;
} // namespace image

// Codes of the rules that are not a status code themselves.
namespace exception_code {
inline constexpr std::int32_t None = -1;
inline constexpr std::int32_t Executable = 150; // + position in the executable kinds
inline constexpr std::int32_t ParentPath = 160;
inline constexpr std::int32_t MethodPut = 162;
inline constexpr std::int32_t MethodDelete = 163;
inline constexpr std::int32_t NewSpider = 902;
} // namespace exception_code

// Final state of the exception rules for one access: Code stays -1 when no rule fired, and
// then nothing is to be listed.
struct TExceptionCheck {
    std::int32_t Code = -1;
    int Image = 24;
    std::string Message;
};

// Runs the exception rules over the entry's access in their fixed order; each rule that
// fires overwrites code and message. An entry without an access fires nothing. Reads the
// spider list for the search-engine rule.
TExceptionCheck CheckExceptions(const TQueue& entry);

// The English reason text of an HTTP status code; "Unknown Status Code" for any code not
// in the table.
std::string_view StatusText(std::int32_t code);

} // namespace kavel
