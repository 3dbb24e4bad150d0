#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace kavel::test {

// A program started by a test, its standard output and error going to files. However the
// test ends, the program does not outlive it: the destructor kills what still runs (SIGKILL),
// so a program stuck in a dialog never stays behind.
class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    // Starts program with the arguments; environment holds "NAME=value" entries added to the
    // test's own.
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment, const std::filesystem::path& outputFolder,
                 const std::string& name)
        : Stdout_(outputFolder / (name + ".out"))
        , Stderr_(outputFolder / (name + ".err")) {
        std::vector<std::string> args{program.string()};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<std::string> env(environment);
        for (char** entry = environ; *entry != nullptr; ++entry)
            env.emplace_back(*entry);
        std::vector<char*> envp;
        for (std::string& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, Stdout_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, Stderr_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // Signals the test runner blocks or ignores are the program's own again.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&Pid_, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0)
            Pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (Running()) {
            ::kill(Pid_, SIGKILL);
            ::waitpid(Pid_, &Status_, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return Pid_ > 0; }
    bool Running() {
        if (Pid_ <= 0 || Exited_)
            return false;
        const pid_t done = ::waitpid(Pid_, &Status_, WNOHANG);
        if (done == Pid_)
            Exited_ = true;
        return !Exited_;
    }
    void Signal(int signal) {
        if (Running())
            ::kill(Pid_, signal);
    }
    // Waits for the end until the deadline; kills the program when it passes. True when the
    // program ended by itself.
    bool WaitForExit(std::chrono::milliseconds deadline) {
        if (WaitUntil([this] { return !Running(); }, deadline))
            return true;
        ::kill(Pid_, SIGKILL);
        ::waitpid(Pid_, &Status_, 0);
        Exited_ = true;
        return false;
    }
    // The exit status of a program that ended by itself, or -1.
    int ExitStatus() const { return Exited_ && WIFEXITED(Status_) ? WEXITSTATUS(Status_) : -1; }

    std::string Output() const { return Read(Stdout_); }
    std::string Errors() const { return Read(Stderr_); }

    // Polls done() until it holds or the deadline passes; whether it held.
    static bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
        const auto end = Clock::now() + deadline;
        while (!done()) {
            if (Clock::now() >= end)
                return done();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

private:
    static std::string Read(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path Stdout_;
    std::filesystem::path Stderr_;
    pid_t Pid_ = -1;
    int Status_ = 0;
    bool Exited_ = false;
};

} // namespace kavel::test
