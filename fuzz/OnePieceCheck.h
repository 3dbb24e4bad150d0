#pragma once
// The reader's path makes an entry in one piece (MakeEntry: a draft record placed beside its
// line); the texts and numbers it gives must be those of the entry-by-entry path, whatever the
// bytes. The visitor state is left out: the first parse may list a revisitor that the second
// then finds.

#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "platform/Clock.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace kavel::fuzz {

inline bool SameAccess(const AccessRecord& a, const AccessRecord& b) {
    if (a.Kind() != b.Kind() || a.DateText() != b.DateText() || a.Address() != b.Address() ||
        a.HostName() != b.HostName() || a.User() != b.User() || a.UserAgent() != b.UserAgent() ||
        a.Method() != b.Method() || a.Page() != b.Page() || a.Protocol() != b.Protocol() ||
        a.Referer() != b.Referer() || a.Status != b.Status || a.Bytes != b.Bytes ||
        a.IsDocument != b.IsDocument || a.IsSpider != b.IsSpider || a.IsBuddy != b.IsBuddy ||
        a.Resolved() != b.Resolved())
        return false;
    if (a.Kind() != LogFormat::W3c)
        return true;
    const auto& x = static_cast<const W3cRecord&>(a);
    const auto& y = static_cast<const W3cRecord&>(b);
    return x.ServerAddress() == y.ServerAddress() && x.ServerHostName() == y.ServerHostName() &&
           x.SiteName() == y.SiteName() && x.ComputerName() == y.ComputerName() && x.Cookie() == y.Cookie() &&
           x.ServerPort == y.ServerPort && x.SubStatus == y.SubStatus && x.Win32Status == y.Win32Status &&
           x.BytesReceived == y.BytesReceived && x.TimeTaken == y.TimeTaken;
}

// entry has been through ParseEntry with the keep period ignored, with the same settings.
inline void CheckOnePieceAgrees(const LogEntry& entry, Server& server, const EntrySettings& settings) {
    const std::unique_ptr<LogEntry> placed = MakeEntry(entry.Line.View(), server, settings);
    if (!entry.Access()) {
        if (placed)
            __builtin_trap();
        return;
    }
    if (!placed) {
        // Only the keep period may drop what the other path accepts.
        if (!IsExpired(entry))
            __builtin_trap();
        return;
    }
    // A line without a time stamp leaves each entry at the time it was made.
    const std::int64_t now = platform::Now().Ms;
    const bool bothNow = std::llabs(placed->Time.Ms - now) < 10000 && std::llabs(entry.Time.Ms - now) < 10000;
    if (!placed->Access() || (placed->Time != entry.Time && !bothNow) ||
        placed->Line.View() != entry.Line.View() || !SameAccess(*placed->Access(), *entry.Access()))
        __builtin_trap();
}

} // namespace kavel::fuzz
