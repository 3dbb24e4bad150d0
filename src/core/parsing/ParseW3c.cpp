#include "base/Text.h"
#include "net/ReverseLookup.h"
#include "parsing/AccessRecord.h"
#include "parsing/NameList.h"
#include "parsing/ParseSupport.h"
#include "parsing/Parsers.h"
#include "parsing/SpiderList.h"
#include "platform/LocaleFormat.h"

#include <vector>

namespace kavel {

namespace {

// Field indices of the fixed W3C order.
enum W3CField : int {
    FieldDate,
    FieldTime,
    FieldClientIp,
    FieldUserName,
    FieldSiteName,
    FieldComputerName,
    FieldServerIp,
    FieldServerPort,
    FieldMethod,
    FieldUriStem,
    FieldUriQuery,
    FieldStatus,
    FieldSubStatus,
    FieldWin32Status,
    FieldBytesSent,
    FieldBytesReceived,
    FieldTimeTaken,
    FieldVersion,
    FieldHost,
    FieldUserAgent,
    FieldCookie,
    FieldReferer
};

bool Has(std::uint32_t fields, int index) {
    return (fields & (1u << index)) != 0;
}

// Consecutive lines mostly share their time stamp, and formatting it in the desktop's form
// is the dearest step of a line: the last conversion is kept per thread.
struct DateCache {
    bool Valid = false;
    std::string Date;
    std::string Time;
    std::int32_t TimeZone = 0;
    bool Ok = false;
    DateTime Result;

    bool TextValid = false;
    DateTime TextTime;
    const platform::LocaleFormat* Format = nullptr;
    std::string Text;
    // The short date of the day of TextTime.
    std::int64_t Day = 0;
    std::string ShortDate;
};

struct Scratch {
    std::vector<std::string_view> Tokens;
    std::vector<std::string_view> DateParts;
    std::vector<std::string_view> TimeParts;
    std::string HostName;
    std::string ServerHostName;
    std::string Page;
    std::string UserAgent;
    DateCache Dates;
};

Scratch& ThreadScratch() {
    thread_local Scratch scratch;
    return scratch;
}

std::optional<DateTime> Convert(std::string_view date, std::string_view time, std::int32_t timeZone,
                                Scratch& s) {
    ExtractStrings('-', date, s.DateParts);
    ExtractStrings(':', time, s.TimeParts);
    if (s.DateParts.size() < 3 || s.TimeParts.size() < 3)
        return std::nullopt;
    const auto year = ParseInt32(s.DateParts[0]);
    const auto month = ParseInt32(s.DateParts[1]);
    const auto day = ParseInt32(s.DateParts[2]);
    const auto hour = ParseInt32(s.TimeParts[0]);
    const auto minute = ParseInt32(s.TimeParts[1]);
    const auto second = ParseInt32(s.TimeParts[2]);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    const std::optional<DateTime> t = EncodeDateTime(*year, *month, *day, *hour, *minute, *second);
    if (!t)
        return std::nullopt;
    return DateTime{t->Ms - static_cast<std::int64_t>(timeZone) * MsPerHour};
}

// The time stamp of the date and time tokens with its DateText (a view into the cache).
std::optional<DateTime> ReadDateTime(std::string_view date, std::string_view time, std::int32_t timeZone,
                                     std::string_view& dateText, Scratch& s) {
    DateCache& c = s.Dates;
    if (!c.Valid || c.TimeZone != timeZone || c.Date != date || c.Time != time) {
        const std::optional<DateTime> t = Convert(date, time, timeZone, s);
        c.Valid = true;
        c.Date.assign(date);
        c.Time.assign(time);
        c.TimeZone = timeZone;
        c.Ok = t.has_value();
        if (t)
            c.Result = *t;
    }
    if (!c.Ok)
        return std::nullopt;
    const platform::LocaleFormat& format = platform::CurrentLocaleFormat();
    if (!c.TextValid || c.TextTime != c.Result || c.Format != &format) {
        // The form of FormatDateTimeOmitMidnight, with the short date asked for once a day.
        const std::int64_t day = c.Result.Ms >= 0 ? c.Result.Ms / MsPerDay : (c.Result.Ms + 1) / MsPerDay - 1;
        if (!c.TextValid || c.Format != &format || c.Day != day) {
            c.ShortDate = format.ShortDate(c.Result);
            c.Day = day;
        }
        c.Text = c.ShortDate;
        if (!IsMidnight(c.Result)) {
            c.Text.push_back(' ');
            c.Text.append(format.LongTime(c.Result));
        }
        c.TextValid = true;
        c.TextTime = c.Result;
        c.Format = &format;
    }
    dateText = c.Text;
    return c.Result;
}

} // namespace

bool ParseW3cDateTime(AccessRecord& record, std::string_view date, std::string_view time,
                      std::int32_t timeZone, std::optional<DateTime>& result) {
    Scratch& s = ThreadScratch();
    std::string_view dateText;
    const std::optional<DateTime> t = ReadDateTime(date, time, timeZone, dateText, s);
    if (!t)
        return false;
    result = *t;
    record.SetDateText(dateText);
    return true;
}

ParsedLine ParseW3c(std::string_view line, const ParseOptions& options) {
    Scratch& s = ThreadScratch();
    std::vector<std::string_view>& tokens = s.Tokens;
    const std::size_t n = SplitLogLine(line, tokens);
    if (n == 0)
        return {};
    const std::uint32_t fields = options.W3cFields;
    ParsedLine parsed;
    std::size_t i = 0;
    AccessTexts texts;

    const bool hasDate = Has(fields, FieldDate);
    const bool hasTime = Has(fields, FieldTime);
    if (hasDate && hasTime) {
        if (i + 1 >= n)
            return {};
        std::string_view dateText;
        const std::optional<DateTime> t =
            ReadDateTime(tokens[i], tokens[i + 1], options.TimeZone, dateText, s);
        if (!t)
            return {};
        parsed.Time = *t;
        texts.DateText = dateText;
        i += 2;
    } else if (hasDate || hasTime) {
        ++i;
    }

    std::int32_t status = 0;
    std::int32_t bytes = 0;
    std::int32_t serverPort = 80;
    std::int32_t subStatus = 0;
    std::int32_t win32Status = 0;
    std::int32_t bytesReceived = 0;
    std::int32_t timeTaken = 0;
    const auto resolveAddress = [&options](std::string_view address, std::string& name) {
        return ResolveIfWanted(options.ResolveNames, address, name);
    };
    for (int index = FieldClientIp; index <= FieldReferer; ++index) {
        if (!Has(fields, index))
            continue;
        if (i >= n)
            return {};
        const std::string_view token = tokens[i++];
        std::int32_t* integer = nullptr;
        switch (index) {
        case FieldClientIp:
            texts.Address = token;
            if (resolveAddress(token, s.HostName))
                texts.HostName = s.HostName;
            break;
        case FieldUserName:
            texts.User = token;
            break;
        case FieldSiteName:
            texts.SiteName = token;
            break;
        case FieldComputerName:
            texts.ComputerName = token;
            break;
        case FieldServerIp:
            texts.ServerAddress = token;
            if (resolveAddress(token, s.ServerHostName))
                texts.ServerHostName = s.ServerHostName;
            break;
        case FieldServerPort:
            integer = &serverPort;
            break;
        case FieldMethod:
            texts.Method = token;
            break;
        case FieldUriStem:
            texts.Page = token;
            break;
        case FieldUriQuery:
            if (token != "-") {
                s.Page.assign(texts.Page);
                s.Page.push_back('?');
                s.Page.append(token);
                texts.Page = s.Page;
            }
            break;
        case FieldStatus:
            integer = &status;
            break;
        case FieldSubStatus:
            integer = &subStatus;
            break;
        case FieldWin32Status:
            integer = &win32Status;
            break;
        case FieldBytesSent:
            if (token != "-")
                integer = &bytes;
            break;
        case FieldBytesReceived:
            integer = &bytesReceived;
            break;
        case FieldTimeTaken:
            integer = &timeTaken;
            break;
        case FieldVersion:
            texts.Protocol = token;
            break;
        case FieldHost:
            break;
        case FieldUserAgent:
            if (token.find('+') == std::string_view::npos) {
                texts.UserAgent = token;
            } else {
                s.UserAgent.assign(token);
                for (char& c : s.UserAgent)
                    if (c == '+')
                        c = ' ';
                texts.UserAgent = s.UserAgent;
            }
            break;
        case FieldCookie:
            texts.Cookie = token;
            break;
        case FieldReferer:
            texts.Referer = token;
            break;
        default:
            break;
        }
        if (integer) {
            const std::optional<std::int32_t> value = ParseInt32(token);
            if (!value)
                return {};
            *integer = *value;
        }
    }

    // Nothing below fails: the classification lists change only for accepted lines.
    auto record = AccessRecord::MakeW3c(texts);
    record->Status = status;
    record->Bytes = bytes;
    record->ServerPort = serverPort;
    record->SubStatus = subStatus;
    record->Win32Status = win32Status;
    record->BytesReceived = bytesReceived;
    record->TimeTaken = timeTaken;
    if (Has(fields, FieldClientIp)) {
        ClassifySpider(*record);
        if (Has(fields, FieldUriStem)) {
            ClassifyDocument(*record);
            ClassifyBuddy(*record);
        }
    }
    parsed.Record = std::move(record);
    return parsed;
}

} // namespace kavel
