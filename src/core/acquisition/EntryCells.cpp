#include "acquisition/EntryCells.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/LineBlocks.h"
#include "base/ShownText.h"
#include "base/TextPattern.h"
#include "platform/LocaleFormat.h"

#include <charconv>
#include <cstdint>

namespace kavel {
namespace {

void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

} // namespace

const SuspicionCheck& EntryTexts::CheckOf(const LogEntry& entry) {
    if (!HasCheck_ || CheckSerial_ != entry.Serial) {
        Pin_.Reach(entry);
        Check_ = CheckSuspicious(entry.Access(), *Spiders_);
        CheckSerial_ = entry.Serial;
        HasCheck_ = true;
    }
    return Check_;
}

const std::string& EntryTexts::TimeText(DateTime time) {
    // The text is the day's date and the time to the second: both change seldom from one entry
    // to the next, so each is made only when it changes (see platform::FormatDateTime).
    const std::int64_t second =
        time.Ms >= 0 ? time.Ms / MsPerSecond : (time.Ms - MsPerSecond + 1) / MsPerSecond;
    if (HasTime_ && TimeSecond_ == second)
        return TimeText_;
    const platform::LocaleFormat& format = platform::CurrentLocaleFormat();
    constexpr std::int64_t SecondsPerDay = MsPerDay / MsPerSecond;
    const std::int64_t day =
        second >= 0 ? second / SecondsPerDay : (second - SecondsPerDay + 1) / SecondsPerDay;
    if (!HasTime_ || Day_ != day) {
        DateText_ = format.ShortDate(time);
        Day_ = day;
    }
    TimeText_.assign(DateText_);
    TimeText_ += ' ';
    TimeText_ += format.LongTime(time);
    TimeSecond_ = second;
    HasTime_ = true;
    return TimeText_;
}

const std::string& EntryTexts::ServerNameText(const Server& server) {
    // Revisions are unique among all servers: a server made where another was freed has
    // another one.
    const std::uint64_t revision = server.NameRevision();
    if (revision != ServerNameRevision_) {
        ServerName_.clear();
        AppendShownText(ServerName_, server.Name());
        ServerNameRevision_ = revision;
    }
    return ServerName_;
}

std::string_view EntryTexts::Text(const LogEntry& entry, EntryCell cell) {
    Scratch_.clear();
    AppendText(Scratch_, entry, cell);
    return Scratch_;
}

void EntryTexts::AppendText(std::string& out, const LogEntry& entry, EntryCell cell) {
    Append<false>(out, entry, cell);
}

void EntryTexts::AppendLoggedText(std::string& out, const LogEntry& entry, EntryCell cell) {
    Append<true>(out, entry, cell);
}

template <bool Logged>
void EntryTexts::Append(std::string& out, const LogEntry& entry, EntryCell cell) {
    const auto add = [&out](std::string_view bytes) {
        if constexpr (Logged)
            out.append(bytes);
        else
            AppendShownText(out, bytes);
    };
    Pin_.Reach(entry);
    const AccessRecord* access = entry.Access();
    switch (cell) {
    case EntryCell::Line:
        add(entry.Line.View());
        return;
    case EntryCell::Time:
        out += TimeText(entry.Time);
        return;
    case EntryCell::Server:
        if (entry.Server != nullptr)
            out += ServerNameText(*entry.Server);
        return;
    case EntryCell::ExceptionCode:
        if (const SuspicionCheck& check = CheckOf(entry); check.Code != suspicion_code::None)
            AppendNumber(out, check.Code);
        return;
    case EntryCell::Description:
        if (const SuspicionCheck& check = CheckOf(entry); check.Code != suspicion_code::None)
            add(check.Message);
        return;
    default:
        break;
    }
    if (access == nullptr)
        return;
    switch (cell) {
    case EntryCell::Host:
        add(access->HostName());
        return;
    case EntryCell::User:
        add(access->User());
        return;
    case EntryCell::Method:
        add(access->Method());
        return;
    case EntryCell::Page:
        add(access->Page());
        return;
    case EntryCell::Status:
        AppendNumber(out, access->Status);
        out += ' ';
        out += StatusText(access->Status);
        return;
    case EntryCell::Referer:
        add(access->Referer());
        return;
    case EntryCell::UserAgent:
        add(access->UserAgent());
        return;
    default:
        return;
    }
}

RowOutcome OutcomeOf(const LogEntry& entry, const SpiderList& spiders) {
    const AccessRecord* access = entry.Access();
    if (access == nullptr)
        return RowOutcome::Ordinary;
    if (access->Status >= 500 && access->Status <= 599)
        return RowOutcome::ServerError;
    if (access->Status >= 400 && access->Status <= 499)
        return RowOutcome::ClientError;
    LinePin pin;
    if (access->RequestFacts() == 0)
        pin.Reach(entry);
    if (CheckSuspiciousCode(access, spiders).Code != suspicion_code::None)
        return RowOutcome::Suspicious;
    if (access->Status >= 300 && access->Status <= 399)
        return RowOutcome::Redirection;
    return RowOutcome::Ordinary;
}

bool AnyCellMatches(const TextPattern& pattern, const LogEntry& entry, std::span<const EntryCell> cells,
                    EntryTexts& texts) {
    if (pattern.Empty())
        return true;
    for (const EntryCell cell : cells)
        if (pattern.Matches(texts.Text(entry, cell)))
            return true;
    return false;
}

EntryMatcher::EntryMatcher(const TextPattern& pattern, std::span<const EntryCell> cells,
                           const SpiderList& spiders)
    : Pattern_(&pattern)
    , Cells_(cells.begin(), cells.end())
    , Texts_(spiders) {}

void EntryMatcher::PrefetchHead(const LogEntry* entry) {
    if (entry == nullptr)
        return;
    __builtin_prefetch(entry);
    __builtin_prefetch(reinterpret_cast<const char*>(entry) + 64);
}

void EntryMatcher::PrefetchBody(const LogEntry* entry) {
    if (entry == nullptr)
        return;
    // The access and its side texts follow the entry; the line lies in its block, which the
    // matcher's pin brings in.
    constexpr std::ptrdiff_t CacheLine = 64;
    const char* const head = reinterpret_cast<const char*>(entry);
    for (std::ptrdiff_t at = 2 * CacheLine; at < 5 * CacheLine; at += CacheLine)
        __builtin_prefetch(head + at);
}

bool EntryMatcher::Matches(const LogEntry& entry) {
    if (Pattern_->Empty())
        return true;
    if (Pattern_->FindsLoggedBytes()) {
        // Most patterns are found in the bytes themselves, which saves making the texts.
        Lines_.clear();
        for (std::size_t i = 0; i < Cells_.size(); ++i) {
            if (i > 0)
                Lines_ += '\n';
            Texts_.AppendLoggedText(Lines_, entry, Cells_[i]);
        }
        if (const std::optional<bool> found = Pattern_->MatchesLoggedLines(Lines_))
            return *found;
    }
    Lines_.clear();
    for (std::size_t i = 0; i < Cells_.size(); ++i) {
        if (i > 0)
            Lines_ += '\n';
        Texts_.AppendText(Lines_, entry, Cells_[i]);
    }
    return Pattern_->MatchesAnyLine(Lines_, Scratch_);
}

} // namespace kavel
