#pragma once

#include "acquisition/EntryParsing.h"
#include "acquisition/EntryPipeline.h"
#include "acquisition/EntryQueue.h"
#include "net/NamePass.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavel {

class Server;
class Workspace;

// Makes a reader's lines into queued entries, in the order of the lines. With names looked up,
// a line whose addresses the name cache cannot answer yet waits, and the lines after it wait
// behind it, while the look-ups of all of them run at once; a waiting line is taken as soon as
// its names are answered, and without them once its deadline (the settings' NameDeadline after
// it was read) has passed. Lines may go on waiting from one pass to the next, so that reading
// never waits for names. A late answer still fills the cache for later lines. Lines whose names
// are known, and all lines without look-up, become entries at once. Reader thread only, but for
// the signal, which any thread may interrupt to end every wait at once.
class EntryIntake {
public:
    // queued runs after each entry was appended to the workspace's queue.
    using Queued = std::function<void()>;
    EntryIntake(Workspace& space, Server& server, std::shared_ptr<AnswerSignal> signal, Queued queued);
    ~EntryIntake();
    EntryIntake(const EntryIntake&) = delete;
    EntryIntake& operator=(const EntryIntake&) = delete;

    // The settings of the lines that follow (read once per pass). With inParallel (a log's
    // history) and no names to look up, the lines are made into entries on a thread of their
    // own (EntryPipeline) until the settings change again; threadStart runs first there.
    void SetSettings(const EntrySettings& settings, bool inParallel = false,
                     std::function<void()> threadStart = {});
    // A complete line. May append entries of earlier lines first, and waits only when too many
    // lines wait already. True when the line was accepted: its entry appended, or the line waits
    // (behind others, or for its names). In parallel, the line is taken, and whether it was
    // accepted is known once it was handed on (AcceptedMark).
    bool Take(std::string_view line, std::int64_t mark = 0);
    bool InParallel() const { return Pipeline_ != nullptr; }
    // In parallel: appends the entries of every line taken, waiting for them.
    void FlushParallel();
    // Appends what was taken in parallel, and makes the lines that follow on the calling thread.
    void EndParallel();
    // The mark of the last line accepted in parallel since it was last asked.
    std::optional<std::int64_t> TakeAcceptedMark() { return std::exchange(AcceptedMark_, std::nullopt); }
    // Takes the waiting lines whose names are there or whose deadline has passed, from the
    // oldest on, without waiting.
    void TakeReady() { TakeReady(false); }
    // Every waiting line is taken, its names or its deadline waited for (the end of the first
    // pass, or of a file). Returns at once, dropping what waits, once the signal is interrupted.
    void Finish();
    std::size_t WaitingCount() const { return Waiting_.size() + (Pipeline_ ? Pipeline_->PendingCount() : 0); }
    // The deadline of the oldest waiting line.
    std::optional<std::chrono::steady_clock::time_point> OldestDeadline() const;

    // More waiting lines than this (or more bytes) make Take wait for the oldest first.
    static constexpr std::size_t MaxWaitingLines = 20000;
    static constexpr std::size_t MaxWaitingBytes = std::size_t{16} << 20;

private:
    struct WaitingLine {
        std::string Line;
        std::chrono::steady_clock::time_point Deadline;
        // The addresses it waits for; empty when it only waits for the lines before it.
        std::vector<std::string> Open;
    };

    enum class Made : std::uint8_t { Entry, Nothing, Deferred };
    // Parses the line with the names the cache has: its entry appended, none to make, or given
    // up for open names (noted in open).
    Made TryMake(std::string_view line, bool takeWithoutNames, std::vector<std::string>& open);
    // Takes waiting lines from the oldest on while their names are there or their deadline has
    // passed; with waitForOldest, waits for the oldest until then (or until interrupted).
    void TakeReady(bool waitForOldest);

    Workspace& Space_;
    Server& Server_;
    NamePass Names_;
    Queued Queued_;
    EntrySettings Settings_;
    std::deque<WaitingLine> Waiting_;
    std::size_t WaitingBytes_ = 0;
    EntryPipeline::Deliver Append_;
    std::unique_ptr<EntryPipeline> Pipeline_;
    std::optional<std::int64_t> AcceptedMark_;
};

} // namespace kavel
