#pragma once

#include "platform/DateTime.h"

#include <cstdint>
#include <string>

namespace kavel::platform {

// Date, time and number texts in the desktop's forms ("short date", "long time", thousands
// separators). All results are UTF-8.
class LocaleFormat {
public:
    virtual ~LocaleFormat() = default;
    virtual std::string ShortDate(DateTime time) const = 0;
    virtual std::string LongTime(DateTime time) const = 0;
    // A count with thousands separators and no decimals.
    virtual std::string Thousands(std::int64_t value) const = 0;
};

// The fixed form used in the C locale and by tests: "2005-03-05", "09:07:00", "1.234.567"
// would be ambiguous, so thousands are grouped with a blank: "1 234 567".
class FixedLocaleFormat final : public LocaleFormat {
public:
    std::string ShortDate(DateTime time) const override;
    std::string LongTime(DateTime time) const override;
    std::string Thousands(std::int64_t value) const override;
};

// Follows the user's LC_TIME and LC_NUMERIC (strftime "%x" and "%X"); falls back to the fixed
// form when those are the C or POSIX locale.
class SystemLocaleFormat final : public LocaleFormat {
public:
    SystemLocaleFormat();
    std::string ShortDate(DateTime time) const override;
    std::string LongTime(DateTime time) const override;
    std::string Thousands(std::int64_t value) const override;

private:
    bool UseFixed_ = true;
    std::string ThousandsSeparator_;
};

// The process-wide formatter: the fixed form unless another one was installed (the programs
// install SystemLocaleFormat at start).
const LocaleFormat& CurrentLocaleFormat();
void SetCurrentLocaleFormat(const LocaleFormat* format);

// Short date, a blank and long time.
std::string FormatDateTime(DateTime time);
// As FormatDateTime, but only the short date when the time is exactly midnight.
std::string FormatDateTimeOmitMidnight(DateTime time);

} // namespace kavel::platform
