#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kavel::platform {

// A program to start: its path (a name without "/" is looked up in PATH) and its arguments,
// each passed as it is; no shell ever sees them.
struct ProcessRequest {
    std::string Program;
    std::vector<std::string> Arguments;
    // Set in the program's environment on top of this process' own, replacing variables of
    // the same name.
    std::vector<std::pair<std::string, std::string>> Environment;
    // The program's process group is killed when it runs longer.
    std::chrono::milliseconds TimeLimit{30000};
    // How much of what it writes (standard output and error together) is kept: the first
    // lines, each cut to MaxLineBytes.
    std::size_t OutputLines = 5;
    std::size_t MaxLineBytes = 400;
};

struct ProcessOutcome {
    enum class End {
        // It ended by itself: ExitCode holds its status.
        Exited,
        // A signal ended it (not the time limit): Signal holds it.
        Signalled,
        // It ran past the time limit and was killed.
        TimedOut,
        // It could not be started: Error says why.
        NotStarted,
        // The runner was destroyed while it ran; it was killed.
        Abandoned,
    };
    End Ending = End::NotStarted;
    int ExitCode = 0;
    int Signal = 0;
    std::string Error;
    std::vector<std::string> Output;
    std::chrono::milliseconds Duration{0};
};

// Starts programs detached from the caller: each runs in a process group of its own, with
// standard input from /dev/null, a clean signal mask and default signal handling, none of this
// process' other files, and its output read by a watcher thread. The caller never waits: the
// outcome is handed to a callback on the watcher thread. A runner that is destroyed kills what
// still runs and waits for its watchers. Thread-safe.
class ProcessRunner {
public:
    using Finished = std::function<void(ProcessOutcome)>;

    ProcessRunner();
    ~ProcessRunner();
    ProcessRunner(const ProcessRunner&) = delete;
    ProcessRunner& operator=(const ProcessRunner&) = delete;

    // Starts the program; false when it could not be started: its outcome (NotStarted) was
    // then handed over at once, in the calling thread.
    bool Start(ProcessRequest request, Finished finished);
    // Programs started and not yet ended.
    std::size_t Running() const;

private:
    struct Watch;
    void WatchProcess(const std::shared_ptr<Watch>& watch);

    mutable std::mutex Lock_;
    std::condition_variable Ended_;
    std::vector<std::thread> Threads_;
    std::size_t Running_ = 0;
    // Written to wake every watcher when the runner goes; read ends polled by them.
    int WakeRead_ = -1;
    int WakeWrite_ = -1;
};

// "Exit-Status 0", "Signal 9", "nach 30 s abgebrochen", "nicht gestartet: <why>".
std::string DescribeOutcome(const ProcessOutcome& outcome);

} // namespace kavel::platform
