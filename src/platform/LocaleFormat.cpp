#include "platform/LocaleFormat.h"

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace kavel::platform {

namespace {

std::string TwoDigits(int value) {
    // Times of day take this path for every logged time: no formatted output for them.
    if (value >= 0 && value < 100)
        return {static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

std::string Grouped(std::int64_t value, const std::string& separator) {
    const bool negative = value < 0;
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    std::string result;
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            result += separator;
        result += digits[i];
    }
    return negative ? "-" + result : result;
}

std::tm ToTm(DateTime time) {
    const DateParts p = DecodeDateTime(time);
    std::tm tm{};
    tm.tm_year = p.Year - 1900;
    tm.tm_mon = p.Month - 1;
    tm.tm_mday = p.Day;
    tm.tm_hour = p.Hour;
    tm.tm_min = p.Minute;
    tm.tm_sec = p.Second;
    tm.tm_wday = static_cast<int>(((DaysFromCivil(p.Year, p.Month, p.Day) % 7) + 11) % 7);
    tm.tm_isdst = -1;
    return tm;
}

std::string Strftime(const char* format, DateTime time) {
    const std::tm tm = ToTm(time);
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
    return std::string(buffer, n);
}

bool IsPlainLocale(const char* name) {
    return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
           std::strncmp(name, "C.", 2) == 0;
}

const FixedLocaleFormat TheFixedFormat;
std::atomic<const LocaleFormat*> Installed{nullptr};

} // namespace

std::string FixedLocaleFormat::ShortDate(DateTime time) const {
    const DateParts p = DecodeDateTime(time);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
    return buffer;
}

std::string FixedLocaleFormat::LongTime(DateTime time) const {
    const DateParts p = DecodeDateTime(time);
    return TwoDigits(p.Hour) + ":" + TwoDigits(p.Minute) + ":" + TwoDigits(p.Second);
}

std::string FixedLocaleFormat::Thousands(std::int64_t value) const {
    return Grouped(value, " ");
}

SystemLocaleFormat::SystemLocaleFormat() {
    const char* timeLocale = std::setlocale(LC_TIME, nullptr);
    UseFixed_ = IsPlainLocale(timeLocale);
    const char* numericLocale = std::setlocale(LC_NUMERIC, nullptr);
    if (!IsPlainLocale(numericLocale)) {
        const char* sep = nl_langinfo(THOUSEP);
        ThousandsSeparator_ = sep ? sep : "";
    }
    if (ThousandsSeparator_.empty())
        ThousandsSeparator_ = " ";
}

std::string SystemLocaleFormat::ShortDate(DateTime time) const {
    return UseFixed_ ? TheFixedFormat.ShortDate(time) : Strftime("%x", time);
}

std::string SystemLocaleFormat::LongTime(DateTime time) const {
    return UseFixed_ ? TheFixedFormat.LongTime(time) : Strftime("%X", time);
}

std::string SystemLocaleFormat::Thousands(std::int64_t value) const {
    return Grouped(value, ThousandsSeparator_);
}

const LocaleFormat& CurrentLocaleFormat() {
    const LocaleFormat* format = Installed.load(std::memory_order_acquire);
    return format ? *format : TheFixedFormat;
}

void SetCurrentLocaleFormat(const LocaleFormat* format) {
    Installed.store(format, std::memory_order_release);
}

std::string FormatDateTime(DateTime time) {
    const LocaleFormat& format = CurrentLocaleFormat();
    return format.ShortDate(time) + " " + format.LongTime(time);
}

std::string FormatDateTimeOmitMidnight(DateTime time) {
    const LocaleFormat& format = CurrentLocaleFormat();
    if (IsMidnight(time))
        return format.ShortDate(time);
    return format.ShortDate(time) + " " + format.LongTime(time);
}

} // namespace kavel::platform
