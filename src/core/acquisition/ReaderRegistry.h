#pragma once

#include "acquisition/LogReader.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kavel {

class Workspace;

// One slot of the reader table; a slot whose Used is false is free for reuse.
struct ReaderSlot {
    kavel::Server* Server = nullptr;
    std::unique_ptr<LogReader> Thread;
    bool Used = false;
};

// The readers alive now, by serial: a call posted for a reader that was freed meanwhile finds
// nothing. Any thread.
class LiveReaders {
public:
    // A serial unique among the readers of this table, the reader filed under it.
    std::uint64_t Add(LogReader& reader);
    void Remove(std::uint64_t serial);
    LogReader* Find(std::uint64_t serial) const;

private:
    mutable std::mutex Lock_;
    std::uint64_t LastSerial_ = 0;
    std::unordered_map<std::uint64_t, LogReader*> BySerial_;
};

// The readers of a workspace's servers and what they share: the view and the main thread's
// half of the handshake they reach (installed by the window or the watcher), and the memory of
// the last beep and popup. The table is main thread only.
class ReaderRegistry {
public:
    explicit ReaderRegistry(Workspace& space);
    // Readers still running are stopped; parked ones are left to the process' end.
    ~ReaderRegistry();
    ReaderRegistry(const ReaderRegistry&) = delete;
    ReaderRegistry& operator=(const ReaderRegistry&) = delete;

    Workspace& Space() const { return Space_; }
    std::vector<ReaderSlot>& Slots() { return Slots_; }
    const std::vector<ReaderSlot>& Slots() const { return Slots_; }
    // The running reader of the server, or none.
    LogReader* ReaderOf(const Server& server) const;
    std::size_t UsedCount() const;
    const std::shared_ptr<LiveReaders>& Live() const { return Live_; }

    // Creates the server's reader, sets the server's Thread and starts it, in the first free slot.
    LogReader& Start(Server& server);
    // Stops the readers of the server and frees their slots; before a definition is deleted.
    void StopServer(Server& server);
    // Stops every reader: all are asked to stop at once, then each is waited for in table order,
    // showStatus getting StoppingReaderStatusText for its server first.
    void StopAll(const std::function<void(const std::string&)>& showStatus = {});
    // The end of the program: as StopAll, but every reader stands still for good where it
    // waits (or at its next safe point) instead of ending its thread; the process' end takes the
    // threads along. Waking thousands of readers only to end them took seconds.
    void ParkAll(const std::function<void(const std::string&)>& showStatus = {});
    // Stops every reader still running and empties the table (end of the program).
    void Clear();

    // What the readers show through the main thread; none shows nothing.
    void SetView(ReaderView* view) { View_.store(view, std::memory_order_release); }
    ReaderView* View() const { return View_.load(std::memory_order_acquire); }
    // The main thread's half of the handshake; none: a reader does not sleep after its
    // notifications, and still waits for activation.
    void SetMainThread(ReaderMainThread* handshake) {
        MainThread_.store(handshake, std::memory_order_release);
    }
    ReaderMainThread& MainThread() const;

    // Shared by the readers: a reader beeps unless another did in the same second (true when
    // this one is to beep). A lost update only repeats or skips one beep.
    bool TakeBeepSecond(std::int64_t second) { return LastBeepSecond_.exchange(second) != second; }
    // The serial of the entry shown in the last popup, not its address: a freed entry's memory
    // may hold a newer entry.
    std::uint64_t LastPopupSerial() const { return LastPopupSerial_.load(); }
    void SetLastPopupSerial(std::uint64_t serial) { LastPopupSerial_.store(serial); }
    // Forgets the last beep and popup, for tests that start from a quiet state.
    void ResetNotificationMemory();

private:
    Workspace& Space_;
    std::vector<ReaderSlot> Slots_;
    std::shared_ptr<LiveReaders> Live_ = std::make_shared<LiveReaders>();
    std::atomic<ReaderView*> View_{nullptr};
    std::atomic<ReaderMainThread*> MainThread_{nullptr};
    std::atomic<std::int64_t> LastBeepSecond_{-1};
    std::atomic<std::uint64_t> LastPopupSerial_{0};
    // Parked readers: a reader still resting there is never freed (its thread waits on it).
    std::vector<std::unique_ptr<LogReader>> Parked_;
};

// Requests the stop, ends any sleep, waits for the body (running synchronized calls meanwhile)
// and frees the reader.
void StopReader(std::unique_ptr<LogReader> thread);
// The status text while a server's reader is being stopped: the server's name between these.
inline constexpr std::string_view StoppingReaderStatusHead = "Die Verbindung zu der Protokolldatei \"";
inline constexpr std::string_view StoppingReaderStatusTail = "\" wird gelöst...";
std::string StoppingReaderStatusText(const Server& server);
std::string ReaderStateText(const LogReader& thread);

} // namespace kavel
