#include "base/Text.h"
#include "parsing/AccessRecord.h"
#include "parsing/ClassificationLists.h"
#include "parsing/NameList.h"
#include "parsing/ParseSupport.h"
#include "parsing/Parsers.h"
#include "parsing/SpiderList.h"

#include <array>
#include <vector>

namespace kavel {

namespace {

constexpr std::array<std::string_view, 12> MonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int MonthIndex(std::string_view name) {
    if (name.size() != 3)
        return 0;
    // Every line names its month: most lines need one comparison, not up to twelve.
    const char first = AsciiUpper(name[0]);
    for (std::size_t i = 0; i < MonthNames.size(); ++i)
        if (MonthNames[i][0] == first && EqualsAsciiIgnoreCase(name, MonthNames[i]))
            return static_cast<int>(i) + 1;
    return 0;
}

enum class DateOutcome { Abandon, KeepTime, SetTime };

ParseScratch& ThreadScratch() {
    thread_local ParseScratch scratch;
    return scratch;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int Digits(std::string_view text, std::size_t pos, std::size_t count) {
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

// The usual "dd/Mon/yyyy:hh:mm:ss": read in place. The result equals that of the general
// way below for every text of this shape.
bool IsCanonicalDate(std::string_view body) {
    if (body.size() != 20)
        return false;
    static constexpr std::string_view Shape = "99/AAA/9999:99:99:99";
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const char expected = Shape[i];
        const char c = body[i];
        if (expected == '9' ? !IsDigit(c) : expected == 'A' ? !IsAsciiLetter(c) : c != expected)
            return false;
    }
    return true;
}

DateOutcome ReadDate(std::string_view body, DateTime& time, ParseScratch& s) {
    if (IsCanonicalDate(body)) {
        const int month = MonthIndex(body.substr(3, 3));
        if (month == 0)
            return DateOutcome::KeepTime;
        const std::optional<DateTime> encoded =
            EncodeDateTime(Digits(body, 7, 4), month, Digits(body, 0, 2), Digits(body, 12, 2),
                           Digits(body, 15, 2), Digits(body, 18, 2));
        if (!encoded)
            return DateOutcome::Abandon;
        time = *encoded;
        return DateOutcome::SetTime;
    }
    ExtractStrings(':', body, s.Parts);
    if (s.Parts.empty())
        return DateOutcome::Abandon;
    ExtractStrings('/', s.Parts[0], s.DateParts);
    if (s.DateParts.size() < 2)
        return DateOutcome::Abandon;
    const int month = MonthIndex(s.DateParts[1]);
    if (month == 0)
        return DateOutcome::KeepTime;
    if (s.Parts.size() < 4 || s.DateParts.size() < 3)
        return DateOutcome::Abandon;
    const auto hour = ParseInt32(s.Parts[1]);
    const auto minute = ParseInt32(s.Parts[2]);
    const auto second = ParseInt32(s.Parts[3]);
    const auto day = ParseInt32(s.DateParts[0]);
    const auto year = ParseInt32(s.DateParts[2]);
    if (!hour || !minute || !second || !day || !year)
        return DateOutcome::Abandon;
    const std::optional<DateTime> encoded = EncodeDateTime(*year, month, *day, *hour, *minute, *second);
    if (!encoded)
        return DateOutcome::Abandon;
    time = *encoded;
    return DateOutcome::SetTime;
}

// Tokens 3 and 4: the two pieces of DateText into texts and the time stamp into the entry.
bool ApplyDate(std::string_view token3, std::string_view token4, std::optional<DateTime>& result,
               AccessTexts& texts, ParseScratch& s) {
    const std::string_view body = token3.substr(1);
    texts.DateText = body;
    texts.DateTextTail = token4.substr(0, token4.size() - 1);
    DateTime time;
    switch (ReadDate(body, time, s)) {
    case DateOutcome::Abandon:
        return false;
    case DateOutcome::SetTime:
        result = time;
        break;
    case DateOutcome::KeepTime:
        break;
    }
    return true;
}

bool SplitRequest(std::string_view token5, AccessTexts& texts, ParseScratch& s) {
    const std::string_view text = DequoteView(token5, s.Request);
    SplitAtBlanks(text, s.Words);
    if (s.Words.size() < 2)
        return false;
    texts.Method = s.Words[0];
    texts.Page = s.Words[1];
    if (s.Words.size() >= 3)
        texts.Protocol = s.Words[2];
    return true;
}

} // namespace

bool ParseNcsaDate(AccessRecord& record, std::string_view token3, std::string_view token4,
                   std::optional<DateTime>& time) {
    ParseScratch& s = ThreadScratch();
    AccessTexts texts;
    if (token3.empty() || token4.empty() || !ApplyDate(token3, token4, time, texts, s))
        return false;
    s.DateText.assign(texts.DateText);
    s.DateText.append(texts.DateTextTail);
    record.SetDateText(s.DateText);
    return true;
}

bool ParseRequest(AccessRecord& record, std::string_view token5) {
    ParseScratch& s = ThreadScratch();
    AccessTexts texts;
    texts.Protocol = record.Protocol();
    if (!SplitRequest(token5, texts, s))
        return false;
    const std::string protocol(texts.Protocol);
    record.SetMethod(texts.Method);
    record.SetPage(texts.Page);
    record.SetProtocol(protocol);
    return true;
}

ParsedLine ParseNcsa(std::string_view line, const ParseOptions& options) {
    ParseScratch& s = ThreadScratch();
    std::vector<std::string_view>& tokens = s.Tokens;
    const std::size_t n = SplitLogLine(line, tokens);
    AccessTexts texts;
    ParsedLine parsed;
    if (n < 1)
        return {};
    texts.Address = tokens[0];
    if (ResolveIfWanted(options, tokens[0], s.HostName))
        texts.HostName = s.HostName;
    if (n < 5 || !ApplyDate(tokens[3], tokens[4], parsed.Time, texts, s))
        return {};
    if (n < 6 || !SplitRequest(tokens[5], texts, s))
        return {};
    texts.User = tokens[2];
    if (n < 7)
        return {};
    const std::optional<std::int32_t> status = ParseInt32(tokens[6]);
    if (!status || n < 8)
        return {};
    std::int64_t bytes = 0;
    if (tokens[7] != "-") {
        const std::optional<std::int64_t> sent = ParseInt64(tokens[7]);
        if (!sent)
            return {};
        bytes = *sent;
    }
    if (n > 8)
        texts.Referer = DequoteView(tokens[8], s.Referer);
    if (n > 9)
        texts.UserAgent = DequoteView(tokens[9], s.UserAgent);

    // Nothing below fails: the classification lists change only for accepted lines.
    auto record = options.Draft ? AccessRecord::DraftNcsa(texts, line) : AccessRecord::MakeNcsa(texts);
    record->Status = *status;
    record->Bytes = bytes;
    if (const ClassificationLists* lists = options.Lists) {
        ClassifyDocument(lists->Documents, *record);
        ClassifySpider(lists->Spiders, *record);
        ClassifyBuddy(lists->Buddies, *record);
    }
    parsed.Record = std::move(record);
    return parsed;
}

} // namespace kavel
