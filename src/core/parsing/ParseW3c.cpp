#include "base/Text.h"
#include "net/ReverseLookup.h"
#include "parsing/AccessRecord.h"
#include "parsing/ClassificationLists.h"
#include "parsing/NameList.h"
#include "parsing/ParseSupport.h"
#include "parsing/Parsers.h"
#include "parsing/SpiderList.h"
#include "platform/LocaleFormat.h"

#include <array>
#include <vector>

namespace kavel {

namespace {

// Field indices of the fixed W3C order.
enum W3cField : int {
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

// The names a "#Fields:" directive gives the fields, by field index. The status fields are
// also known by the names older logs used.
struct FieldName {
    std::string_view Name;
    int Index;
};
constexpr FieldName FieldNames[] = {
    {"date", FieldDate},
    {"time", FieldTime},
    {"c-ip", FieldClientIp},
    {"cs-username", FieldUserName},
    {"s-sitename", FieldSiteName},
    {"s-computername", FieldComputerName},
    {"s-ip", FieldServerIp},
    {"s-port", FieldServerPort},
    {"cs-method", FieldMethod},
    {"cs-uri-stem", FieldUriStem},
    {"cs-uri-query", FieldUriQuery},
    {"sc-status", FieldStatus},
    {"cs-status", FieldStatus},
    {"sc-substatus", FieldSubStatus},
    {"cs-substatus", FieldSubStatus},
    {"sc-win32-status", FieldWin32Status},
    {"sc-bytes", FieldBytesSent},
    {"cs-bytes", FieldBytesReceived},
    {"time-taken", FieldTimeTaken},
    {"cs-version", FieldVersion},
    {"cs-host", FieldHost},
    {"cs(User-Agent)", FieldUserAgent},
    {"cs(Cookie)", FieldCookie},
    {"cs(Referer)", FieldReferer},
};

std::int8_t FieldIndex(std::string_view name) {
    for (const FieldName& field : FieldNames)
        if (EqualsAsciiIgnoreCase(name, field.Name))
            return static_cast<std::int8_t>(field.Index);
    return W3cFieldLayout::Unknown;
}

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

ParseScratch& ThreadScratch() {
    thread_local ParseScratch scratch;
    return scratch;
}

DateCache& ThreadDateCache() {
    thread_local DateCache dates;
    return dates;
}

// IIS may log "hh:mm:ss.fff"; the fraction is dropped. Anything but digits after the point
// leaves the text as it is, so it fails as a number.
std::string_view WholeSeconds(std::string_view seconds) {
    const std::size_t point = seconds.find('.');
    if (point == std::string_view::npos || point + 1 == seconds.size())
        return seconds;
    for (std::size_t i = point + 1; i < seconds.size(); ++i)
        if (seconds[i] < '0' || seconds[i] > '9')
            return seconds;
    return seconds.substr(0, point);
}

std::optional<DateTime> Convert(std::string_view date, std::string_view time, std::int32_t timeZone,
                                ParseScratch& s) {
    ExtractStrings('-', date, s.DateParts);
    ExtractStrings(':', time, s.TimeParts);
    if (s.DateParts.size() < 3 || s.TimeParts.size() < 3)
        return std::nullopt;
    const auto year = ParseInt32(s.DateParts[0]);
    const auto month = ParseInt32(s.DateParts[1]);
    const auto day = ParseInt32(s.DateParts[2]);
    const auto hour = ParseInt32(s.TimeParts[0]);
    const auto minute = ParseInt32(s.TimeParts[1]);
    const auto second = ParseInt32(WholeSeconds(s.TimeParts[2]));
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    const std::optional<DateTime> t = EncodeDateTime(*year, *month, *day, *hour, *minute, *second);
    if (!t)
        return std::nullopt;
    // The shift may leave the calendar the rest of the program can show: such a line is dropped.
    const DateTime shifted{t->Ms - static_cast<std::int64_t>(timeZone) * MsPerHour};
    constexpr std::int64_t First = DaysFromCivil(1, 1, 1) * MsPerDay;
    constexpr std::int64_t Last = DaysFromCivil(10000, 1, 1) * MsPerDay - 1;
    if (shifted.Ms < First || shifted.Ms > Last)
        return std::nullopt;
    return shifted;
}

// The time stamp of the date and time tokens with its DateText (a view into the cache).
std::optional<DateTime> ReadDateTime(std::string_view date, std::string_view time, std::int32_t timeZone,
                                     std::string_view& dateText, ParseScratch& s) {
    DateCache& c = ThreadDateCache();
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
    ParseScratch& s = ThreadScratch();
    std::string_view dateText;
    const std::optional<DateTime> t = ReadDateTime(date, time, timeZone, dateText, s);
    if (!t)
        return false;
    result = *t;
    record.SetDateText(dateText);
    return true;
}

std::optional<W3cFieldLayout> ParseW3cDirective(std::string_view line) {
    constexpr std::string_view Directive = "#Fields:";
    if (line.size() < Directive.size() || !EqualsAsciiIgnoreCase(line.substr(0, Directive.size()), Directive))
        return std::nullopt;
    W3cFieldLayout layout;
    std::size_t pos = Directive.size();
    while (pos < line.size()) {
        while (pos < line.size() &&
               (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r' || line[pos] == '\n'))
            ++pos;
        std::size_t end = pos;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r' &&
               line[end] != '\n')
            ++end;
        if (end > pos)
            layout.Fields.push_back(FieldIndex(line.substr(pos, end - pos)));
        pos = end;
    }
    return layout;
}

ParsedLine ParseW3c(std::string_view line, const ParseOptions& options) {
    ParseScratch& s = ThreadScratch();
    std::vector<std::string_view>& tokens = s.Tokens;
    const std::size_t n = SplitLogLine(line, tokens);
    if (n == 0)
        return {};

    // The field of each token: from the log's own directive when it has one, else from the
    // server's mask in the fixed order.
    std::array<std::int8_t, FieldReferer + 1> maskOrder{};
    const std::int8_t* order = maskOrder.data();
    std::size_t orderSize = 0;
    std::uint32_t present = 0;
    if (options.W3cLayout) {
        order = options.W3cLayout->Fields.data();
        orderSize = options.W3cLayout->Fields.size();
        for (std::size_t k = 0; k < orderSize; ++k)
            if (order[k] >= 0)
                present |= 1u << order[k];
    } else {
        present = options.W3cFields & ((1u << (FieldReferer + 1)) - 1);
        for (int index = FieldDate; index <= FieldReferer; ++index)
            if (Has(present, index))
                maskOrder[orderSize++] = static_cast<std::int8_t>(index);
    }
    if (n < orderSize)
        return {};

    ParsedLine parsed;
    AccessTexts texts;
    std::optional<std::string_view> date;
    std::optional<std::string_view> time;
    std::optional<std::string_view> stem;
    std::optional<std::string_view> query;
    std::int32_t status = 0;
    std::int64_t bytes = 0;
    std::int32_t serverPort = 80;
    std::int32_t subStatus = 0;
    std::int32_t win32Status = 0;
    std::int64_t bytesReceived = 0;
    std::int64_t timeTaken = 0;
    const auto resolveAddress = [&options](std::string_view address, std::string& name) {
        return ResolveIfWanted(options, address, name);
    };
    const auto readInt32 = [](std::string_view token, std::int32_t& target) {
        const std::optional<std::int32_t> value = ParseInt32(token);
        if (value)
            target = *value;
        return value.has_value();
    };
    const auto readInt64 = [](std::string_view token, std::int64_t& target) {
        const std::optional<std::int64_t> value = ParseInt64(token);
        if (value)
            target = *value;
        return value.has_value();
    };
    for (std::size_t k = 0; k < orderSize; ++k) {
        const std::string_view token = tokens[k];
        bool ok = true;
        switch (order[k]) {
        case FieldDate:
            date = token;
            break;
        case FieldTime:
            time = token;
            break;
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
            ok = readInt32(token, serverPort);
            break;
        case FieldMethod:
            texts.Method = token;
            break;
        case FieldUriStem:
            stem = token;
            break;
        case FieldUriQuery:
            query = token;
            break;
        case FieldStatus:
            ok = readInt32(token, status);
            break;
        case FieldSubStatus:
            ok = readInt32(token, subStatus);
            break;
        case FieldWin32Status:
            ok = readInt32(token, win32Status);
            break;
        case FieldBytesSent:
            ok = token == "-" || readInt64(token, bytes);
            break;
        case FieldBytesReceived:
            ok = readInt64(token, bytesReceived);
            break;
        case FieldTimeTaken:
            ok = readInt64(token, timeTaken);
            break;
        case FieldVersion:
            texts.Protocol = token;
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
            // cs-host and fields this parser does not know: the token is consumed unread.
            break;
        }
        if (!ok)
            return {};
    }
    if (date && time) {
        std::string_view dateText;
        const std::optional<DateTime> t = ReadDateTime(*date, *time, options.TimeZone, dateText, s);
        if (!t)
            return {};
        parsed.Time = *t;
        texts.DateText = dateText;
    }
    if (stem)
        texts.Page = *stem;
    if (query && *query != "-") {
        s.Page.assign(stem.value_or(std::string_view()));
        s.Page.push_back('?');
        s.Page.append(*query);
        texts.Page = s.Page;
    }

    // Nothing below fails: the classification lists change only for accepted lines.
    auto record = options.Draft ? AccessRecord::DraftW3c(texts, line) : AccessRecord::MakeW3c(texts);
    record->Status = status;
    record->Bytes = bytes;
    record->ServerPort = serverPort;
    record->SubStatus = subStatus;
    record->Win32Status = win32Status;
    record->BytesReceived = bytesReceived;
    record->TimeTaken = timeTaken;
    if (const ClassificationLists* lists = options.Lists; lists != nullptr && Has(present, FieldClientIp)) {
        ClassifySpider(lists->Spiders, *record);
        if (Has(present, FieldUriStem)) {
            ClassifyDocument(lists->Documents, *record);
            ClassifyBuddy(lists->Buddies, *record);
        }
    }
    parsed.Record = std::move(record);
    return parsed;
}

} // namespace kavel
