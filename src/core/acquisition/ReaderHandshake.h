#pragma once

// The main thread's half of the reader handshake, shared by the desktop window and the headless
// watcher. Wiring on a headless main thread:
//
//     platform::LoopDispatcher loop;                    // this thread is the main thread
//     platform::ScopedDispatcher dispatcher(loop);
//     ReaderHandshake handshake([&](LogEntry& first) {
//         TakeOverNewEntries(first, [&](LogEntry& entry) { Print(entry); });
//     });
//     ScopedReaderMainThread installed(handshake);
//     loop.SetIdleHandler([&] { return handshake.ResumePendingReader(); });
//     for (Server& server : servers) StartReader(server);
//     loop.Run();                                       // until loop.Quit(), e.g. from SIGINT
//     handshake.SetClosing(true);                       // notifications are ignored from now
//     loop.SetIdleHandler({});
//     StopAllReaders([](const std::string& text) { std::cerr << text << '\n'; });
//
// The readers must be stopped before the handshake, the dispatcher and the servers go away.

#include "acquisition/LogReader.h"
#include "platform/Dispatcher.h"
#include "platform/ScopedInstall.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kavel {

class LogEntry;

// After a notification the handshake hands the first new entry of the queue to the take-over
// callback and resumes the reader: at once when it is already suspended, else at a later idle
// moment (PendingResume), whichever of the notification and the suspension comes first. The
// callback takes the entries from the given one on (following Next) and clears IsNew of each
// entry it takes; TakeOverNewEntries does both for simple consumers. Main thread only.
class ReaderHandshake final : public ReaderMainThread {
public:
    using TakeOver = std::function<void(LogEntry& first)>;
    explicit ReaderHandshake(TakeOver takeOver);

    void OnReaderNotify(LogReader& reader) override;
    void SuspendReader(LogReader& reader) override;
    // The idle handler: resumes the first reader of PendingResume that is suspended and takes
    // it out of the list (at most one per call); readers that ended meanwhile are dropped.
    platform::IdleResult ResumePendingReader();

    // While closing, notifications are ignored entirely (the readers are being stopped).
    void SetClosing(bool closing) { Closing_ = closing; }
    bool Closing() const { return Closing_; }
    std::size_t PendingCount() const { return PendingResume_.size(); }

private:
    struct Pending {
        LogReader* Reader;
        std::uint64_t Serial;
    };
    TakeOver TakeOver_;
    std::vector<Pending> PendingResume_;
    bool Closing_ = false;
};

// Calls each for every entry from first on (following Next) and clears its IsNew.
void TakeOverNewEntries(LogEntry& first, const std::function<void(LogEntry&)>& each);

using ScopedReaderMainThread = platform::ScopedInstall<ReaderMainThread, &SetReaderMainThread>;

} // namespace kavel
