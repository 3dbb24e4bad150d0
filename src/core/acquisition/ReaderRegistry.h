#pragma once

#include "acquisition/LogReader.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// One slot of the reader table; a slot whose Used is false is free for reuse.
struct ReaderSlot {
    kavel::Server* Server = nullptr;
    std::unique_ptr<LogReader> Thread;
    bool Used = false;
};

// The readers of all servers. Main thread only.
class ReaderRegistry {
public:
    std::vector<ReaderSlot>& Slots() { return Slots_; }
    const std::vector<ReaderSlot>& Slots() const { return Slots_; }
    // The running reader of the server, or none.
    LogReader* ReaderOf(const Server& server) const;
    std::size_t UsedCount() const;
    // Stops every reader still running and empties the table (end of the program).
    void Clear();

private:
    std::vector<ReaderSlot> Slots_;
};

ReaderRegistry& Readers();

// Creates the server's reader, sets the server's Thread and starts it, in the first free slot.
LogReader& StartReader(Server& server);
// Requests the stop, ends any sleep, waits for the body (running synchronized calls meanwhile)
// and frees the reader.
void StopReader(std::unique_ptr<LogReader> thread);
// Stops the readers of the server and frees their slots; before a definition is deleted.
void StopServerReaders(Server& server);
// The status text while a server's reader is being stopped: the server's name between these.
inline constexpr std::string_view StoppingReaderStatusHead = "Die Verbindung zu der Protokolldatei \"";
inline constexpr std::string_view StoppingReaderStatusTail = "\" wird gelöst...";
std::string StoppingReaderStatusText(const Server& server);
// Stops every reader: all are asked to stop at once, then each is waited for in table order,
// showStatus getting the text above for its server first.
void StopAllReaders(const std::function<void(const std::string&)>& showStatus = {});
// The end of the program: as StopAllReaders, but every reader stands still for good where it
// waits (or at its next safe point) instead of ending its thread; the process' end takes the
// threads along. Waking thousands of readers only to end them took seconds.
void ParkAllReaders(const std::function<void(const std::string&)>& showStatus = {});
std::string ReaderStateText(const LogReader& thread);

} // namespace kavel
