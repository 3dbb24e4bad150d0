#include "platform/ProcessRunner.h"

#include "support/ReaderTestSupport.h"
#include "support/RecorderSupport.h"
#include "support/TempFolder.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sstream>

namespace kavel::platform {
namespace {

using namespace std::chrono_literals;
using test::TempFolder;

// Collects the outcome that a watcher thread hands over.
class Outcomes {
public:
    ProcessRunner::Finished Sink() {
        return [this](ProcessOutcome outcome) {
            std::lock_guard lock(Lock_);
            Received_.push_back(std::move(outcome));
            Cv_.notify_all();
        };
    }
    std::optional<ProcessOutcome> Wait(std::size_t count = 1, std::chrono::seconds deadline = 30s) {
        std::unique_lock lock(Lock_);
        if (!Cv_.wait_for(lock, deadline, [&] { return Received_.size() >= count; }))
            return std::nullopt;
        return Received_[count - 1];
    }

private:
    std::mutex Lock_;
    std::condition_variable Cv_;
    std::vector<ProcessOutcome> Received_;
};

ProcessRequest Recorder(std::vector<std::string> arguments) {
    ProcessRequest request;
    request.Program = KAVEL_RECORDER_PATH;
    request.Arguments = std::move(arguments);
    return request;
}

// A process that is gone or a zombie no longer runs (a zombie whose parent died waits for
// whoever adopts it).
bool IsRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z' &&
           line[close + 2] != 'X';
}

std::pair<pid_t, pid_t> WaitForPids(const std::filesystem::path& file) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(file);
        pid_t a = 0;
        pid_t b = 0;
        if (in >> a >> b)
            return {a, b};
        std::this_thread::yield();
    }
    return {0, 0};
}

bool EventuallyGone(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (IsRunning(pid)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(ProcessRunner, ExitStatusAndFirstOutputLinesOfBothStreams) {
    Outcomes outcomes;
    {
        ProcessRunner runner;
        ProcessRequest request =
            Recorder({"say", "3", "eins", "zwei", "drei", "vier", "fünf", "sechs", "sieben"});
        request.OutputLines = 5;
        request.MaxLineBytes = 3;
        ASSERT_TRUE(runner.Start(request, outcomes.Sink()));
        const auto outcome = outcomes.Wait();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->Ending, ProcessOutcome::End::Exited);
        EXPECT_EQ(outcome->ExitCode, 3);
        // Standard error comes through the same pipe, in order; each line cut to three bytes.
        EXPECT_EQ(outcome->Output, (std::vector<std::string>{"ein", "zwe", "dre", "vie", "f\xC3\xBC"}));
        EXPECT_EQ(DescribeOutcome(*outcome), "Exit-Status 3");
    }
}

TEST(ProcessRunner, ArgumentsAndEnvironmentArriveAsGiven) {
    TempFolder folder;
    Outcomes outcomes;
    ProcessRunner runner;
    ProcessRequest request = Recorder({"record", (folder / "out").string(), "a b", "", "$(x)", "c\nd"});
    request.Environment = {{"KAVEL_RULE", "r;1"}, {"KAVEL_EMPTY", ""}};
    ASSERT_TRUE(runner.Start(request, outcomes.Sink()));
    ASSERT_TRUE(outcomes.Wait());
    const auto call = test::ReadRecordedCall(folder / "out");
    ASSERT_TRUE(call);
    EXPECT_EQ(call->Arguments, (std::vector<std::string>{"a b", "", "$(x)", "c\nd"}));
    EXPECT_EQ(call->Environment.at("KAVEL_RULE"), "r;1");
    EXPECT_EQ(call->Environment.at("KAVEL_EMPTY"), "");
}

TEST(ProcessRunner, ProgramThatCannotStartIsReportedAtOnce) {
    ProcessRunner runner;
    std::optional<ProcessOutcome> seen;
    ProcessRequest request;
    request.Program = "/nonexistent/kavel-no-such-program";
    EXPECT_FALSE(runner.Start(request, [&seen](ProcessOutcome outcome) { seen = std::move(outcome); }));
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->Ending, ProcessOutcome::End::NotStarted);
    EXPECT_EQ(DescribeOutcome(*seen), "nicht gestartet: No such file or directory");
    EXPECT_EQ(runner.Running(), 0u);
}

TEST(ProcessRunner, TimeLimitKillsTheWholeGroup) {
    TempFolder folder;
    Outcomes outcomes;
    ProcessRunner runner;
    ProcessRequest request = Recorder({"hang", (folder / "pids").string()});
    // Long enough for a slow start (a sanitizer build on a busy machine) to write its pids.
    request.TimeLimit = 2000ms;
    ASSERT_TRUE(runner.Start(request, outcomes.Sink()));
    const auto [parent, child] = WaitForPids(folder / "pids");
    ASSERT_GT(parent, 0);
    const auto outcome = outcomes.Wait();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->Ending, ProcessOutcome::End::TimedOut);
    EXPECT_GE(outcome->Duration, 2000ms);
    EXPECT_TRUE(EventuallyGone(parent));
    EXPECT_TRUE(EventuallyGone(child));
    // The watcher counts itself out right after it handed the outcome over.
    EXPECT_TRUE(test::WaitUntil([&runner] { return runner.Running() == 0; }));
}

TEST(ProcessRunner, DestroyedRunnerKillsWhatStillRuns) {
    TempFolder folder;
    Outcomes outcomes;
    pid_t parent = 0;
    pid_t child = 0;
    {
        ProcessRunner runner;
        ASSERT_TRUE(runner.Start(Recorder({"hang", (folder / "pids").string()}), outcomes.Sink()));
        std::tie(parent, child) = WaitForPids(folder / "pids");
        ASSERT_GT(parent, 0);
        EXPECT_EQ(runner.Running(), 1u);
    }
    const auto outcome = outcomes.Wait();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->Ending, ProcessOutcome::End::Abandoned);
    EXPECT_TRUE(EventuallyGone(parent));
    EXPECT_TRUE(EventuallyGone(child));
}

TEST(ProcessRunner, ChildGetsDefaultSignalsThoughTheCallerBlocksThem) {
    // The programs block SIGINT and SIGTERM for their signal thread; a command must not inherit
    // that, or the time limit's and the user's signals would not reach it.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    TempFolder folder;
    Outcomes outcomes;
    ProcessRunner runner;
    ASSERT_TRUE(runner.Start(Recorder({"hang", (folder / "pids").string()}), outcomes.Sink()));
    const auto [parent, child] = WaitForPids(folder / "pids");
    ASSERT_GT(parent, 0);
    ::kill(parent, SIGTERM);
    const auto outcome = outcomes.Wait();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->Ending, ProcessOutcome::End::Signalled);
    EXPECT_EQ(outcome->Signal, SIGTERM);
    ::kill(child, SIGKILL);
}

} // namespace
} // namespace kavel::platform
