#include "platform/DateTime.h"

#include <cstdlib>

namespace kavel {

bool IsLeapYear(int year) noexcept {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) noexcept {
    static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

std::optional<DateTime> EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                                       int millisecond) noexcept {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
        millisecond > 999)
        return std::nullopt;
    const std::int64_t days = DaysFromCivil(year, month, day);
    return DateTime{days * MsPerDay + hour * MsPerHour + minute * MsPerMinute + second * MsPerSecond +
                    millisecond};
}

DateParts DecodeDateTime(DateTime time) noexcept {
    std::int64_t days = time.Ms / MsPerDay;
    std::int64_t rest = time.Ms % MsPerDay;
    if (rest < 0) {
        rest += MsPerDay;
        --days;
    }
    // Civil date from days since 1970-01-01.
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);

    DateParts parts;
    parts.Year = static_cast<int>(y);
    parts.Month = static_cast<int>(m);
    parts.Day = static_cast<int>(d);
    parts.Hour = static_cast<int>(rest / MsPerHour);
    parts.Minute = static_cast<int>(rest % MsPerHour / MsPerMinute);
    parts.Second = static_cast<int>(rest % MsPerMinute / MsPerSecond);
    parts.Millisecond = static_cast<int>(rest % MsPerSecond);
    return parts;
}

namespace {
std::int64_t AbsDiff(DateTime a, DateTime b) noexcept {
    return a.Ms > b.Ms ? a.Ms - b.Ms : b.Ms - a.Ms;
}
} // namespace

std::int64_t WholeMinutesBetween(DateTime a, DateTime b) noexcept {
    return AbsDiff(a, b) / MsPerMinute;
}
std::int64_t WholeHoursBetween(DateTime a, DateTime b) noexcept {
    return AbsDiff(a, b) / MsPerHour;
}
std::int64_t WholeDaysBetween(DateTime a, DateTime b) noexcept {
    return AbsDiff(a, b) / MsPerDay;
}

} // namespace kavel
