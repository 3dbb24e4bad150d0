#include "acquisition/EntryCells.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/ShownText.h"
#include "base/TextPattern.h"
#include "platform/LocaleFormat.h"

#include <charconv>

namespace kavel {

const SuspicionCheck& EntryTexts::CheckOf(const LogEntry& entry) {
    if (!HasCheck_ || CheckSerial_ != entry.Serial) {
        Check_ = CheckSuspicious(entry.Access.get());
        CheckSerial_ = entry.Serial;
        HasCheck_ = true;
    }
    return Check_;
}

std::string_view EntryTexts::Text(const LogEntry& entry, EntryCell cell) {
    const AccessRecord* access = entry.Access.get();
    switch (cell) {
    case EntryCell::Line:
        return ShownText(entry.Line.View(), Scratch_);
    case EntryCell::Time:
        if (!HasTime_ || TimeMs_ != entry.Time.Ms) {
            TimeText_ = platform::FormatDateTime(entry.Time);
            TimeMs_ = entry.Time.Ms;
            HasTime_ = true;
        }
        return TimeText_;
    case EntryCell::Server:
        if (entry.Server == nullptr)
            return {};
        Scratch_.clear();
        AppendShownText(Scratch_, entry.Server->Name());
        return Scratch_;
    case EntryCell::ExceptionCode: {
        const SuspicionCheck& check = CheckOf(entry);
        if (check.Code == suspicion_code::None)
            return {};
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, check.Code).ptr;
        Scratch_.assign(digits, end);
        return Scratch_;
    }
    case EntryCell::Description: {
        const SuspicionCheck& check = CheckOf(entry);
        if (check.Code == suspicion_code::None)
            return {};
        return ShownText(check.Message, Scratch_);
    }
    default:
        break;
    }
    if (access == nullptr)
        return {};
    switch (cell) {
    case EntryCell::Host:
        return ShownText(access->HostName(), Scratch_);
    case EntryCell::User:
        return ShownText(access->User(), Scratch_);
    case EntryCell::Method:
        return ShownText(access->Method(), Scratch_);
    case EntryCell::Page:
        return ShownText(access->Page(), Scratch_);
    case EntryCell::Status: {
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, access->Status).ptr;
        Scratch_.assign(digits, end);
        Scratch_ += ' ';
        Scratch_ += StatusText(access->Status);
        return Scratch_;
    }
    case EntryCell::Referer:
        return ShownText(access->Referer(), Scratch_);
    case EntryCell::UserAgent:
        return ShownText(access->UserAgent(), Scratch_);
    default:
        return {};
    }
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

} // namespace kavel
