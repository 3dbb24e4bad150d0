#pragma once

#include <compare>
#include <cstdint>
#include <optional>

namespace kavel {

// A local wall-clock time: milliseconds since 1970-01-01 00:00 of the local calendar. Every time
// in Kavel is local (log time stamps, the clock, keep periods), so no zone is carried and
// differences are plain subtraction.
struct DateTime {
    std::int64_t Ms = 0;
    auto operator<=>(const DateTime&) const = default;
};

struct DateParts {
    int Year = 1970;
    int Month = 1;
    int Day = 1;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

inline constexpr std::int64_t MsPerSecond = 1000;
inline constexpr std::int64_t MsPerMinute = 60 * MsPerSecond;
inline constexpr std::int64_t MsPerHour = 60 * MsPerMinute;
inline constexpr std::int64_t MsPerDay = 24 * MsPerHour;

// Days since 1970-01-01 of a proleptic Gregorian date; no validation.
constexpr std::int64_t DaysFromCivil(int year, int month, int day) noexcept {
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool IsLeapYear(int year) noexcept;
int DaysInMonth(int year, int month) noexcept;

// The time of a valid date and time (year 1-9999, day within the month, hour 0-23,
// minute and second 0-59, millisecond 0-999); nothing for any other combination.
std::optional<DateTime> EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                                       int millisecond = 0) noexcept;
DateParts DecodeDateTime(DateTime time) noexcept;

// Whole units between two times: the absolute difference, truncated towards zero.
std::int64_t WholeMinutesBetween(DateTime a, DateTime b) noexcept;
std::int64_t WholeHoursBetween(DateTime a, DateTime b) noexcept;
std::int64_t WholeDaysBetween(DateTime a, DateTime b) noexcept;

inline bool IsMidnight(DateTime time) noexcept {
    const std::int64_t r = time.Ms % MsPerDay;
    return r == 0;
}

} // namespace kavel
