#pragma once

#include "base/LineBlocks.h"
#include "parsing/AccessRecord.h"
#include "platform/DateTime.h"

#include <atomic>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace kavel {

class Server;
class EntryQueue;

// Whether the main window has shown an entry; kept per entry for the redraws of the lists and
// the use meter.
enum class DisplayState : std::uint8_t { NotShown = 0, Hidden = 1, Shown = 2 };

// Which list shows an entry in a row: a number that each such list takes for its life
// (ListHandles), None when no list does. One byte, so that it fits beside the entry's flags.
enum class ListHandle : std::uint8_t { None = 0 };

// The numbers that the lists of one queue take and give back (main thread only).
class ListHandles {
public:
    // A number no other living list of the queue holds; throws when all 255 are taken.
    ListHandle Take();
    void Give(ListHandle handle);

private:
    // Which numbers are taken; number 0 is None.
    std::bitset<256> Taken_{1};
};

// The bytes of an entry's log line, read as a view. An entry made by MakeEntry keeps them in a
// line block (under a LinePin while they are read) or, when they fit none, in its own
// allocation; one made from a string owns a copy.
class LineText {
public:
    LineText() = default;
    explicit LineText(std::string_view text);
    // Refers to bytes that outlive it: the entry's own allocation, or a line block's key.
    static LineText Borrowed(const char* data, std::size_t size);
    ~LineText();
    LineText(LineText&& other) noexcept;
    LineText& operator=(LineText&& other) noexcept;
    LineText(const LineText&) = delete;
    LineText& operator=(const LineText&) = delete;

    std::string_view View() const { return {data(), size()}; }
    operator std::string_view() const { return View(); }
    // Implicit, as callers took the line as a string before it became a view.
    operator std::string() const { return std::string(View()); }
    const char* data() const { return LineBytes(Data_); }
    // What the line is known by: the key of its block's line, or its bytes.
    const char* Key() const { return Data_; }
    // Where the key is kept, for a record placed after its entry that finds its line there.
    const char* const* KeyAddress() const { return &Data_; }
    std::size_t size() const { return SizeAndOwned_ & ~OwnedBit; }
    bool empty() const { return size() == 0; }
    char operator[](std::size_t i) const { return data()[i]; }
    friend bool operator==(const LineText& a, std::string_view b) { return a.View() == b; }
    // The size of a line as stored; throws for a line of 2 GiB or longer.
    static std::uint32_t CheckedSize(std::size_t size);

private:
    static constexpr std::uint32_t OwnedBit = 0x80000000u;
    bool Owned() const { return (SizeAndOwned_ & OwnedBit) != 0; }

    const char* Data_ = "";
    // The size in 31 bits (lines are far shorter, and every queued entry has one) and whether
    // the bytes are the text's own copy. An entry keeps its flags in the 4 bytes after it.
    std::uint32_t SizeAndOwned_ = 0;
};

// One accepted log line with its parsed access. Created by a reader, appended to the entry
// queue, taken over and finally removed by the main thread.
class LogEntry {
public:
    // An entry without access, its time the current local time; SetAccess gives it one.
    static std::unique_ptr<LogEntry> Make(std::string_view line, kavel::Server* server);
    ~LogEntry();
    LogEntry(const LogEntry&) = delete;
    LogEntry& operator=(const LogEntry&) = delete;

    // Entries are cut from the entry blocks of the thread that makes them (acquisition/
    // EntryArena.h), where the queue knows them by number, and where one made by MakeEntry
    // keeps its access (and line) right after it. One made with new keeps a pointer to an
    // access of its own there instead.
    static void* operator new(std::size_t size);
    static void operator delete(void* p) noexcept;
    static void operator delete(LogEntry* p, std::destroying_delete_t);

    // Its tail padding holds the flags that follow.
    [[no_unique_address]] LineText Line;
    // Cleared by the main thread when it takes the entry over; readers look at it while
    // they search for the popup's entry.
    std::atomic<bool> IsNew{true};
    // Main thread only.
    kavel::DisplayState DisplayState = kavel::DisplayState::NotShown;
    // Main thread only: the list that shows the entry in a row.
    ListHandle ListItem = ListHandle::None;

private:
    // Whether the entry is in its host's chain (entries without an access are not), and
    // where its access is.
    enum : std::uint8_t { IndexedBit = 1, AccessPlacedBit = 2, AccessApartBit = 4 };
    std::uint8_t Bits_ = 0;

public:
    // The parsed access, or none. It lies right after the entry (MakeEntry), where the entry
    // needs no pointer to it, or is one given by SetAccess.
    AccessRecord* Access() const;
    // Replaces an access given by SetAccess; not for an entry made with its access.
    void SetAccess(std::unique_ptr<AccessRecord> access);
    kavel::Server* Server = nullptr;
    DateTime Time;
    // Unique over the process' life, so that something that remembers an entry (the popup)
    // can tell it from a later entry at the same address.
    const std::uint64_t Serial;

    // Where an access lies after its entry, and where an entry made by Make keeps its pointer.
    static const std::size_t AccessOffset;

private:
    friend class EntryQueue;
    // Makes entries of parsed lines with their accesses (acquisition/EntryParsing.cpp).
    friend struct EntryPlacement;
    // Only made by Make or EntryPlacement, which leave room after the entry for its access.
    LogEntry(LineText line, kavel::Server* server);

    // The neighbours by number (EntryRefOf), half the size of pointers.
    std::uint32_t Prev_ = 0;
    std::uint32_t Next_ = 0;
    // Chain of the entries of the same host name (compared ignoring ASCII case), kept by the
    // queue so that the revisit rule need not walk other hosts' entries.
    std::uint32_t HostPrev_ = 0;
    std::uint32_t HostNext_ = 0;
};

inline constexpr std::size_t LogEntry::AccessOffset =
    (sizeof(LogEntry) + alignof(AccessRecord) - 1) / alignof(AccessRecord) * alignof(AccessRecord);
static_assert(alignof(AccessRecord) % alignof(AccessRecord*) == 0);

inline AccessRecord* LogEntry::Access() const {
    char* after = const_cast<char*>(reinterpret_cast<const char*>(this)) + AccessOffset;
    if ((Bits_ & AccessPlacedBit) != 0)
        return std::launder(reinterpret_cast<AccessRecord*>(after));
    if ((Bits_ & AccessApartBit) != 0)
        return *std::launder(reinterpret_cast<AccessRecord**>(after));
    return nullptr;
}

// A workspace's queue of accepted accesses, oldest first. Readers append; only the main
// thread removes. One reader/writer lock guards the links; a holder of the shared lock may
// take it again.
class EntryQueue {
public:
    EntryQueue();
    ~EntryQueue();
    EntryQueue(const EntryQueue&) = delete;
    EntryQueue& operator=(const EntryQueue&) = delete;

    // Appends an entry with an access; the queue owns it from now on. Must not be called
    // while the calling thread holds the shared lock.
    LogEntry* Append(std::unique_ptr<LogEntry> entry);
    // Unlinks and frees the entry (main thread only).
    void Remove(LogEntry* entry);
    // Frees every entry; the servers' QueueCount is not touched (end of the program).
    void Clear();

    LogEntry* First() const;
    LogEntry* Last() const;
    LogEntry* Prev(const LogEntry* entry) const;
    LogEntry* Next(const LogEntry* entry) const;
    // Read without the lock: an indication only.
    std::int32_t Count() const { return Count_.load(std::memory_order_relaxed); }
    // The oldest entry of the run of new entries at the newest end, or none.
    LogEntry* FirstNew() const;

    // The shared lock for walks of several links; a thread that holds it may take it again
    // (the nested guard then leaves the lock alone). Never append or remove while holding it.
    class ReadGuard {
    public:
        explicit ReadGuard(const EntryQueue& queue);
        ~ReadGuard();
        ReadGuard(ReadGuard&& other) noexcept;
        ReadGuard(const ReadGuard&) = delete;
        ReadGuard& operator=(const ReadGuard&) = delete;
        ReadGuard& operator=(ReadGuard&&) = delete;

    private:
        const EntryQueue* Queue_;
    };
    ReadGuard ReadLock() const;
    // Whether the calling thread holds the shared lock of this queue.
    bool ReadLockHeld() const;

    // Under a held ReadLock: visits the entries whose access' HostName equals hostName
    // ignoring ASCII case, newest first, until visit returns false. The index behind it
    // takes the host name, time and VisitorState an access had when it was appended; queued
    // entries keep them.
    void WalkHostBackward(std::string_view hostName, const std::function<bool(const LogEntry&)>& visit) const;
    // What the revisit rule needs to know of a host's queued accesses: whether there are any,
    // whether one of them is a revisitor's, and the earliest and latest of their times.
    struct HostSummary {
        bool AnyRevisitor = false;
        DateTime Earliest;
        DateTime Latest;
    };
    // Under a held ReadLock: the summary of the entries whose access' HostName equals
    // hostName ignoring ASCII case; none when there are none. Costs a hash look-up, whatever
    // the number of entries (a removal of an earliest or latest entry is paid by one walk of
    // that host's entries on the next call).
    std::optional<HostSummary> SummaryOf(std::string_view hostName) const;

    // The numbers of the lists that show this queue's entries (main thread only).
    ListHandles& Lists() { return Lists_; }

private:
    void LockShared() const;
    void UnlockShared() const;

    struct HostIndex;
    mutable std::shared_mutex Lock_;
    LogEntry* First_ = nullptr;
    LogEntry* Last_ = nullptr;
    std::atomic<std::int32_t> Count_{0};
    std::unique_ptr<HostIndex> Hosts_;
    ListHandles Lists_;
};

} // namespace kavel
