#pragma once

#include "acquisition/LogThread.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kavel {

// One slot of the reader table; a slot whose Used is false is free for reuse.
struct TReaderSlot {
    TServer* Server = nullptr;
    std::unique_ptr<TLogThread> Thread;
    bool Used = false;
};

// The readers of all servers. Main thread only.
class TReaderTable {
public:
    std::vector<TReaderSlot>& Slots() { return Slots_; }
    const std::vector<TReaderSlot>& Slots() const { return Slots_; }
    // The running reader of the server, or none.
    TLogThread* ReaderOf(const TServer& server) const;
    std::size_t UsedCount() const;
    // Stops every reader still running and empties the table (end of the program).
    void Clear();

private:
    std::vector<TReaderSlot> Slots_;
};

TReaderTable& ReaderTable();

// Creates the server's reader, sets the server's Thread and starts it, in the first free slot.
TLogThread& StartReader(TServer& server);
// Requests the stop, ends any sleep, waits for the body (running synchronized calls meanwhile)
// and frees the reader.
void StopReader(std::unique_ptr<TLogThread> thread);
// Stops the readers of the server and frees their slots; before a definition is deleted.
void StopServerReaders(TServer& server);
// "Die Verbindung zu der Protokolldatei "%s" wird gelöst..." with the server's name.
std::string StoppingReaderStatusText(const TServer& server);
// Stops every reader in table order; showStatus gets the text above for each server first.
void StopAllReaders(const std::function<void(const std::string&)>& showStatus = {});
std::string GetState(const TLogThread& thread);

} // namespace kavel
