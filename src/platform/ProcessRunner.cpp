#include "platform/ProcessRunner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kavel::platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The first lines of a program's output, each cut to a length; the rest is read and dropped.
class OutputLines {
public:
    OutputLines(std::size_t lines, std::size_t lineBytes)
        : MaxLines_(lines)
        , MaxLineBytes_(lineBytes) {}

    void Feed(const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size && Lines_.size() < MaxLines_; ++i) {
            const char c = data[i];
            if (c == '\n') {
                Finish();
                continue;
            }
            if (Current_.size() < MaxLineBytes_)
                Current_ += c;
        }
    }
    std::vector<std::string> Take() {
        if (!Current_.empty() && Lines_.size() < MaxLines_)
            Finish();
        return std::move(Lines_);
    }

private:
    void Finish() {
        if (!Current_.empty() && Current_.back() == '\r')
            Current_.pop_back();
        Lines_.push_back(std::move(Current_));
        Current_.clear();
    }

    std::size_t MaxLines_;
    std::size_t MaxLineBytes_;
    std::vector<std::string> Lines_;
    std::string Current_;
};

// This process' environment with the given variables set on top.
std::vector<std::string> MergedEnvironment(const std::vector<std::pair<std::string, std::string>>& set) {
    std::vector<std::string> merged;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('='));
        const bool replaced =
            std::any_of(set.begin(), set.end(), [name](const auto& pair) { return pair.first == name; });
        if (!replaced)
            merged.emplace_back(text);
    }
    for (const auto& [name, value] : set)
        merged.push_back(name + "=" + value);
    return merged;
}

std::vector<char*> PointersOf(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? static_cast<int>(fd) : -1;
#else
    (void)pid;
    return -1;
#endif
}

// Reaps the child; the status, or nothing when it has not ended (and block is false).
bool Reap(pid_t pid, bool block, int& status) {
    for (;;) {
        const pid_t result = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        if (result == pid)
            return true;
        if (result < 0 && errno == EINTR)
            continue;
        // ECHILD: somebody else reaped it; it has ended either way.
        if (result < 0) {
            status = 0;
            return true;
        }
        return false;
    }
}

} // namespace

struct ProcessRunner::Watch {
    pid_t Pid = -1;
    int Output = -1;
    ProcessRequest Request;
    Finished OnEnd;
    SteadyClock::time_point Started;
};

ProcessRunner::ProcessRunner() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        WakeRead_ = fds[0];
        WakeWrite_ = fds[1];
    }
}

ProcessRunner::~ProcessRunner() {
    std::unique_lock lock(Lock_);
    if (Running_ > 0 && WakeWrite_ >= 0) {
        const char wake = 1;
        [[maybe_unused]] const ssize_t written = ::write(WakeWrite_, &wake, 1);
    }
    Ended_.wait(lock, [this] { return Running_ == 0; });
    lock.unlock();
    CloseFd(WakeRead_);
    CloseFd(WakeWrite_);
}

std::size_t ProcessRunner::Running() const {
    std::lock_guard lock(Lock_);
    return Running_;
}

bool ProcessRunner::Start(ProcessRequest request, Finished finished) {
    const auto fail = [&finished](std::string why) {
        ProcessOutcome outcome;
        outcome.Ending = ProcessOutcome::End::NotStarted;
        outcome.Error = std::move(why);
        if (finished)
            finished(std::move(outcome));
    };
    if (request.Program.empty()) {
        fail("kein Programm angegeben");
        return false;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        fail(std::strerror(errno));
        return false;
    }
    int readEnd = pipeFds[0];
    int writeEnd = pipeFds[1];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Files this process opened without close-on-exec stay with it.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own: the time limit ends its children too, and Ctrl+C in this program's
    // terminal does not reach it.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, static_cast<short>(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                             POSIX_SPAWN_SETSIGDEF));

    std::vector<std::string> argv;
    argv.reserve(request.Arguments.size() + 1);
    argv.push_back(request.Program);
    argv.insert(argv.end(), request.Arguments.begin(), request.Arguments.end());
    std::vector<char*> argvPointers = PointersOf(argv);
    std::vector<std::string> environment = MergedEnvironment(request.Environment);
    std::vector<char*> environmentPointers = PointersOf(environment);

    pid_t pid = -1;
    const bool searchPath = request.Program.find('/') == std::string::npos;
    const int error = searchPath ? ::posix_spawnp(&pid, request.Program.c_str(), &actions, &attributes,
                                                  argvPointers.data(), environmentPointers.data())
                                 : ::posix_spawn(&pid, request.Program.c_str(), &actions, &attributes,
                                                 argvPointers.data(), environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    CloseFd(writeEnd);
    if (error != 0) {
        CloseFd(readEnd);
        fail(std::strerror(error));
        return false;
    }
    ::fcntl(readEnd, F_SETFL, ::fcntl(readEnd, F_GETFL) | O_NONBLOCK);

    auto watch = std::make_shared<Watch>();
    watch->Pid = pid;
    watch->Output = readEnd;
    watch->Request = std::move(request);
    watch->OnEnd = std::move(finished);
    watch->Started = SteadyClock::now();
    {
        std::lock_guard lock(Lock_);
        ++Running_;
    }
    // Detached: the watcher's last step is to count itself out under the lock, after which it
    // touches nothing of the runner, and the runner's destructor waits for that count.
    std::thread([this, watch] { WatchProcess(watch); }).detach();
    return true;
}

void ProcessRunner::WatchProcess(const std::shared_ptr<Watch>& watch) {
    ProcessOutcome outcome;
    OutputLines output(watch->Request.OutputLines, watch->Request.MaxLineBytes);
    int pidFd = OpenPidFd(watch->Pid);
    const auto deadline = watch->Started + watch->Request.TimeLimit;
    int status = 0;
    bool ended = false;
    const auto readOutput = [&] {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(watch->Output, buffer, sizeof buffer);
            if (n > 0) {
                output.Feed(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0)
                CloseFd(watch->Output);
            return;
        }
    };
    const auto killGroup = [&] {
        ::kill(-watch->Pid, SIGKILL);
        Reap(watch->Pid, true, status);
        ended = true;
    };
    while (!ended) {
        const auto now = SteadyClock::now();
        if (now >= deadline) {
            killGroup();
            outcome.Ending = ProcessOutcome::End::TimedOut;
            break;
        }
        pollfd fds[3];
        nfds_t count = 0;
        const auto add = [&](int fd) {
            if (fd >= 0)
                fds[count++] = pollfd{fd, POLLIN, 0};
        };
        add(watch->Output);
        add(pidFd);
        add(WakeRead_);
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        // Without a process descriptor the end of the child is looked for in short steps.
        if (pidFd < 0)
            wait = std::min(wait, std::chrono::milliseconds(20));
        const int ready = ::poll(fds, count, static_cast<int>(std::max<std::int64_t>(wait.count(), 1)));
        if (ready < 0 && errno != EINTR) {
            // Nothing left to wait on sensibly: end it.
            killGroup();
            outcome.Ending = ProcessOutcome::End::Abandoned;
            break;
        }
        bool wake = false;
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == watch->Output)
                readOutput();
            else if (fds[i].fd == WakeRead_)
                wake = true;
        }
        if (wake) {
            killGroup();
            outcome.Ending = ProcessOutcome::End::Abandoned;
            break;
        }
        if (Reap(watch->Pid, false, status)) {
            ended = true;
            outcome.Ending =
                WIFSIGNALED(status) ? ProcessOutcome::End::Signalled : ProcessOutcome::End::Exited;
        }
    }
    // What it wrote before it ended is still in the pipe.
    if (watch->Output >= 0)
        readOutput();
    CloseFd(watch->Output);
    CloseFd(pidFd);
    if (outcome.Ending == ProcessOutcome::End::Exited)
        outcome.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
    else if (outcome.Ending == ProcessOutcome::End::Signalled)
        outcome.Signal = WTERMSIG(status);
    outcome.Output = output.Take();
    outcome.Duration =
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - watch->Started);
    if (watch->OnEnd) {
        try {
            watch->OnEnd(std::move(outcome));
        } catch (...) {
        }
    }
    // What the callback holds goes before the runner may go.
    watch->OnEnd = nullptr;
    std::lock_guard lock(Lock_);
    --Running_;
    Ended_.notify_all();
}

std::string DescribeOutcome(const ProcessOutcome& outcome) {
    switch (outcome.Ending) {
    case ProcessOutcome::End::Exited:
        return "Exit-Status " + std::to_string(outcome.ExitCode);
    case ProcessOutcome::End::Signalled:
        return "durch Signal " + std::to_string(outcome.Signal) + " beendet";
    case ProcessOutcome::End::TimedOut:
        return "nach " + std::to_string((outcome.Duration.count() + 500) / 1000) + " s abgebrochen";
    case ProcessOutcome::End::NotStarted:
        return "nicht gestartet: " + outcome.Error;
    case ProcessOutcome::End::Abandoned:
        return "beim Beenden abgebrochen";
    }
    return {};
}

} // namespace kavel::platform
