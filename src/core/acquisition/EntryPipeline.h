#pragma once

#include "acquisition/EntryParsing.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace kavel {

class Server;

// Makes entries of a run of lines on a thread of its own while the calling thread goes on
// reading: the lines go over in batches, are parsed and placed there (their lines go into that
// thread's line blocks), and come back in the order of the lines, on the calling thread, where
// the revisit rule is applied before each is handed on. So the work that depends on the order of
// the lines (the rule, the queue) stays in one thread, and a log's history is read on two cores.
// Names are never looked up. Calling thread only.
class EntryPipeline {
public:
    struct Made {
        // None when the line makes no entry.
        std::unique_ptr<LogEntry> Entry;
        // What the caller gave with the line (a reader's position after it).
        std::int64_t Mark = 0;
        // Why making the entry failed; the line is dropped.
        std::string Error;
    };
    // Takes each line's outcome, in the order of the lines.
    using Deliver = std::function<void(Made&)>;

    // threadStart runs first on the pipeline's thread (a reader lowers its priority there).
    EntryPipeline(Server& server, const EntrySettings& settings, std::function<void()> threadStart = {});
    // Waits for the batch being made, and drops what was not handed on.
    ~EntryPipeline();
    EntryPipeline(const EntryPipeline&) = delete;
    EntryPipeline& operator=(const EntryPipeline&) = delete;

    // Copies the line into the open batch; a full batch goes over. Hands on what is made,
    // waiting only when too many batches are on their way.
    void Take(std::string_view line, std::int64_t mark, const Deliver& deliver);
    // Sends the open batch and hands on every line taken, waiting for them; a failure of a
    // hand-over is thrown once every line was handed on.
    void Flush(const Deliver& deliver);
    // Lines taken and not handed on yet.
    std::size_t PendingCount() const { return Pending_; }

    // A batch goes over with this many lines, or this many bytes.
    static constexpr std::size_t BatchLines = 512;
    static constexpr std::size_t BatchBytes = std::size_t{128} << 10;
    // Batches on their way before Take waits for the oldest.
    static constexpr std::size_t MaxBatchesOnTheirWay = 16;

private:
    struct LineSpan {
        std::uint32_t Offset = 0;
        std::uint32_t Size = 0;
        std::int64_t Mark = 0;
    };
    struct Batch {
        std::string Bytes;
        std::vector<LineSpan> Lines;
        std::vector<UnvisitedEntry> Made;
        // The lines whose entry could not be made, with the reason.
        std::vector<std::pair<std::size_t, std::string>> Errors;
        bool Done = false;
    };

    void Run(const std::function<void()>& threadStart);
    void MakeBatch(Batch& batch);
    void Send();
    // Hands on the oldest batch's lines, waiting for it when wait is true; false when it is not
    // made yet.
    bool HandOnOldest(bool wait, const Deliver& deliver);

    Server& Server_;
    const EntrySettings Settings_;
    std::unique_ptr<Batch> Open_;
    // Batches handed on, kept for the next lines with their memory.
    std::vector<std::unique_ptr<Batch>> Spare_;
    std::size_t Pending_ = 0;

    std::mutex Mutex_;
    std::condition_variable Sent_;
    std::condition_variable MadeOne_;
    // Batches sent, oldest first; the thread makes them in turn and marks each done.
    std::deque<std::unique_ptr<Batch>> OnTheirWay_;
    std::size_t NextToMake_ = 0;
    bool Stopping_ = false;
    std::thread Thread_;
};

} // namespace kavel
