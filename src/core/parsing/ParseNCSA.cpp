#include "acquisition/PoolSystem.h"
#include "acquisition/Queue.h"
#include "parsing/Documents.h"
#include "parsing/Filter.h"
#include "parsing/ParseSupport.h"
#include "parsing/Spiders.h"

#include <array>
#include <vector>

namespace kavel {

namespace {

constexpr std::array<std::string_view, 12> MonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int MonthIndex(std::string_view name) {
    for (std::size_t i = 0; i < MonthNames.size(); ++i)
        if (EqualsAsciiIgnoreCase(name, MonthNames[i]))
            return static_cast<int>(i) + 1;
    return 0;
}

enum class TDateOutcome { Abandon, KeepTime, SetTime };

// Scratch space of one reader thread, reused from line to line.
struct TScratch {
    std::vector<std::string_view> Tokens;
    std::vector<std::string_view> Parts;
    std::vector<std::string_view> DateParts;
    std::vector<std::string_view> Words;
    std::string HostName;
    std::string DateText;
    std::string Request;
    std::string Referer;
    std::string UserAgent;
};

TScratch& Scratch() {
    thread_local TScratch scratch;
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

TDateOutcome ReadDate(std::string_view body, TDateTime& time, TScratch& s) {
    if (IsCanonicalDate(body)) {
        const int month = MonthIndex(body.substr(3, 3));
        if (month == 0)
            return TDateOutcome::KeepTime;
        const std::optional<TDateTime> encoded =
            EncodeDateTime(Digits(body, 7, 4), month, Digits(body, 0, 2), Digits(body, 12, 2),
                           Digits(body, 15, 2), Digits(body, 18, 2));
        if (!encoded)
            return TDateOutcome::Abandon;
        time = *encoded;
        return TDateOutcome::SetTime;
    }
    ExtractStrings(':', body, s.Parts);
    if (s.Parts.empty())
        return TDateOutcome::Abandon;
    ExtractStrings('/', s.Parts[0], s.DateParts);
    if (s.DateParts.size() < 2)
        return TDateOutcome::Abandon;
    const int month = MonthIndex(s.DateParts[1]);
    if (month == 0)
        return TDateOutcome::KeepTime;
    if (s.Parts.size() < 4 || s.DateParts.size() < 3)
        return TDateOutcome::Abandon;
    const auto hour = ParseInt32(s.Parts[1]);
    const auto minute = ParseInt32(s.Parts[2]);
    const auto second = ParseInt32(s.Parts[3]);
    const auto day = ParseInt32(s.DateParts[0]);
    const auto year = ParseInt32(s.DateParts[2]);
    if (!hour || !minute || !second || !day || !year)
        return TDateOutcome::Abandon;
    const std::optional<TDateTime> encoded = EncodeDateTime(*year, month, *day, *hour, *minute, *second);
    if (!encoded)
        return TDateOutcome::Abandon;
    time = *encoded;
    return TDateOutcome::SetTime;
}

// Tokens 3 and 4: DateText into s.DateText and the time stamp into the entry.
bool ApplyDate(std::string_view token3, std::string_view token4, TQueue& entry, TScratch& s) {
    const std::string_view body = token3.substr(1);
    s.DateText.assign(body);
    s.DateText.append(token4.substr(0, token4.size() - 1));
    TDateTime time;
    switch (ReadDate(body, time, s)) {
    case TDateOutcome::Abandon:
        return false;
    case TDateOutcome::SetTime:
        entry.Time = time;
        break;
    case TDateOutcome::KeepTime:
        break;
    }
    return true;
}

bool SplitRequest(std::string_view token5, TFilterTexts& texts, TScratch& s) {
    const std::string_view text = DequoteView(token5, s.Request);
    SplitLogLine(text, s.Words);
    if (s.Words.size() < 2)
        return false;
    texts.Method = s.Words[0];
    texts.Page = s.Words[1];
    if (s.Words.size() >= 3)
        texts.Protocol = s.Words[2];
    return true;
}

} // namespace

bool ParseNCSADate(TFilter& record, std::string_view token3, std::string_view token4, TQueue& entry) {
    TScratch& s = Scratch();
    if (token3.empty() || token4.empty() || !ApplyDate(token3, token4, entry, s))
        return false;
    record.SetDateText(s.DateText);
    return true;
}

bool ParseRequest(TFilter& record, std::string_view token5) {
    TScratch& s = Scratch();
    TFilterTexts texts;
    texts.Protocol = record.Protocol();
    if (!SplitRequest(token5, texts, s))
        return false;
    const std::string protocol(texts.Protocol);
    record.SetMethod(texts.Method);
    record.SetPage(texts.Page);
    record.SetProtocol(protocol);
    return true;
}

void ParseNCSA(TQueue& entry) {
    TScratch& s = Scratch();
    std::vector<std::string_view>& tokens = s.Tokens;
    const std::size_t n = SplitLogLine(entry.Line, tokens);
    TFilterTexts texts;
    if (n < 1)
        return;
    texts.Address = tokens[0];
    if (ResolveIfWanted(tokens[0], s.HostName))
        texts.HostName = s.HostName;
    if (n < 5 || !ApplyDate(tokens[3], tokens[4], entry, s))
        return;
    texts.DateText = s.DateText;
    if (n < 6 || !SplitRequest(tokens[5], texts, s))
        return;
    texts.User = tokens[2];
    if (n < 7)
        return;
    const std::optional<std::int32_t> status = ParseInt32(tokens[6]);
    if (!status || n < 8)
        return;
    std::int32_t bytes = 0;
    if (tokens[7] != "-") {
        const std::optional<std::int32_t> sent = ParseInt32(tokens[7]);
        if (!sent)
            return;
        bytes = *sent;
    }
    if (n > 8)
        texts.Referer = DequoteView(tokens[8], s.Referer);
    if (n > 9)
        texts.UserAgent = DequoteView(tokens[9], s.UserAgent);

    // Nothing below fails: the classification lists change only for accepted lines.
    auto record = TFilter::MakeNCSA(texts);
    record->Status = *status;
    record->Bytes = bytes;
    ClassifyDocument(*record, entry);
    ClassifySpider(*record);
    ClassifyBuddy(*record);
    entry.Access = std::move(record);
}

} // namespace kavel
