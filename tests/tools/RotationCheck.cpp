// Writes a log as a busy web server does, numbering every line, rotates it the way logrotate
// and operators do while "kavel-cli watch" follows it, and counts how many of the numbered lines
// the watcher printed: none may be missing and none printed twice.
//
//   rotation-check --cli PATH --scenario NAME [--rate LINES_PER_S] [--lag S] [--poll MS]
//                  [--grace S] [--before S] [--after S] [--away S] [--runs N] [--verbose]
//   rotation-check --write-only --home DIR [--delay S] --scenario NAME ...
//                  (prepares DIR and writes after S seconds: start the window on DIR meanwhile)
//
// Scenarios: create, compress, delaycompress, dateext, symlink, delete (the log is taken away
// and the web server writes on into the old file for --lag seconds before it reopens its log),
// copytruncate (copied and cut in place), folder (the log's folder moved away for --away seconds
// and back), folder-recreate (the folder deleted and created again with a fresh log).
// One line per run: scenario, rate, lag, poll, grace, written, printed (distinct), missing,
// printed twice.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
    std::string Cli;
    std::string Scenario = "create";
    std::string Home;
    bool WriteOnly = false;
    double Rate = 200;
    double Lag = 2;
    int PollMs = 1000;
    std::optional<int> Grace;
    double Before = 3;
    double After = 3;
    double Away = 5;
    double Delay = 0;
    int Runs = 1;
    bool Verbose = false;
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "rotation-check: %s\n", what.c_str());
    std::exit(2);
}

void WriteFile(const fs::path& file, std::string_view text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out)
        Fail("cannot write " + file.string());
}

// One numbered NCSA Combined line, stamped now: always inside the keep period.
std::string NumberedLine(long number) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S %z", &local);
    char line[256];
    std::snprintf(line, sizeof line,
                  "10.%ld.%ld.%ld - - [%s] \"GET /n/%ld HTTP/1.1\" 200 512 \"-\" \"RotationCheck/1.0\"\n",
                  (number >> 16) & 255, (number >> 8) & 255, number & 255, stamp, number);
    return line;
}

// The web server: writes numbered lines at the rate through the handle it opened, into that
// file whatever it is called by now, until it is told to reopen its log.
class NumberingWriter {
public:
    explicit NumberingWriter(fs::path log)
        : Log_(std::move(log)) {
        Reopen();
    }
    ~NumberingWriter() {
        if (Fd_ >= 0)
            ::close(Fd_);
    }
    void Reopen() {
        const int fd = ::open(Log_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            Fail("cannot open " + Log_.string() + ": " + std::strerror(errno));
        if (Fd_ >= 0)
            ::close(Fd_);
        Fd_ = fd;
    }
    void WriteNext() {
        const std::string line = NumberedLine(++Written_);
        if (::write(Fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            Fail("write failed");
    }
    long Written() const { return Written_; }
    // Writes at the rate until the time, reopening the log when asked.
    void WriteUntil(Clock::time_point end, double rate, std::atomic<bool>& reopen) {
        const auto start = Clock::now();
        const long startCount = Written_;
        while (Clock::now() < end) {
            if (reopen.exchange(false))
                Reopen();
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            const auto due = static_cast<long>(elapsed * rate);
            while (Written_ - startCount < due)
                WriteNext();
            std::this_thread::sleep_for(2ms);
        }
        if (reopen.exchange(false))
            Reopen();
    }

private:
    fs::path Log_;
    int Fd_ = -1;
    long Written_ = 0;
};

void SleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// What logrotate (or the operator) does to the log, on its own thread as a separate process
// would; the web server reopens its log lag seconds after the rotation.
void Rotate(const Options& options, const fs::path& log, std::atomic<bool>& reopen) {
    const fs::path folder = log.parent_path();
    const std::string& s = options.Scenario;
    const auto reopenAfterLag = [&] {
        SleepFor(options.Lag);
        reopen = true;
    };
    if (s == "create" || s == "dateext" || s == "compress" || s == "delaycompress") {
        fs::path rotated = log;
        rotated += s == "dateext" ? "-20240310" : ".1";
        if (s == "delaycompress" && fs::exists(rotated)) {
            fs::path older = log;
            older += ".2.gz";
            fs::rename(rotated, older);
        }
        fs::rename(log, rotated);
        WriteFile(log, "");
        if (s == "compress") {
            // gzip reads the renamed file and removes it; the web server writes on into it.
            SleepFor(0.2);
            fs::path compressed = rotated;
            compressed += ".gz";
            fs::copy_file(rotated, compressed);
            fs::remove(rotated);
        }
        reopenAfterLag();
    } else if (s == "symlink") {
        const fs::path next = folder / "access-2.log";
        WriteFile(next, "");
        fs::create_symlink(next.filename(), folder / "access.next");
        fs::rename(folder / "access.next", log);
        reopenAfterLag();
    } else if (s == "delete") {
        fs::remove(log);
        WriteFile(log, "");
        reopenAfterLag();
    } else if (s == "copytruncate") {
        fs::path copy = log;
        copy += ".1";
        fs::copy_file(log, copy);
        fs::resize_file(log, 0);
    } else if (s == "folder") {
        fs::path away = folder;
        away += ".away";
        fs::rename(folder, away);
        SleepFor(options.Away);
        fs::rename(away, folder);
    } else if (s == "folder-recreate") {
        fs::remove_all(folder);
        SleepFor(options.Away);
        fs::create_directory(folder);
        WriteFile(log, "");
        reopen = true;
    } else {
        Fail("unknown scenario " + s);
    }
}

// The numbers of the lines "kavel-cli watch --format tsv" printed, read from its page field.
class WatchOutput {
public:
    void Read(int fd) {
        std::string pending;
        char buffer[65536];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t start = 0;
            for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
                Line(std::string_view(pending).substr(start, end - start));
            pending.erase(0, start);
        }
    }
    std::map<long, int> Counts() const {
        std::lock_guard lock(Lock_);
        return Counts_;
    }
    long Distinct() const {
        std::lock_guard lock(Lock_);
        return static_cast<long>(Counts_.size());
    }

private:
    void Line(std::string_view line) {
        const std::size_t page = line.find("\t/n/");
        if (page == std::string_view::npos)
            return;
        const long number = std::strtol(std::string(line.substr(page + 4, 12)).c_str(), nullptr, 10);
        std::lock_guard lock(Lock_);
        ++Counts_[number];
    }
    mutable std::mutex Lock_;
    std::map<long, int> Counts_;
};

// The numbers of the complete lines in the folder's regular files.
std::set<long> NumbersInFolder(const fs::path& folder) {
    std::set<long> numbers;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            if (in.eof())
                break;
            const std::size_t page = line.find("GET /n/");
            if (page != std::string::npos)
                numbers.insert(std::strtol(line.c_str() + page + 7, nullptr, 10));
        }
    }
    return numbers;
}

void PrepareHome(const Options& options, const fs::path& home, const fs::path& log) {
    fs::create_directories(log.parent_path());
    std::string config = "[Options]\r\nMiscDnsResolve=0\r\n";
    if (options.Grace)
        config += "LogRotateGraceSeconds=" + std::to_string(*options.Grace) + "\r\n";
    WriteFile(home / "kavel.config", config);
    // name;template;keep;poll;type;fields;zone;active;realtime;sound;unit;popup
    WriteFile(home / "kavel.servers",
              "numbered;" + log.string() + ";1;" + std::to_string(options.PollMs) + ";0;0;0;-1;10;0;0;0\r\n");
    if (options.Scenario == "symlink") {
        WriteFile(log.parent_path() / "access-1.log", "");
        fs::create_symlink("access-1.log", log);
    } else {
        WriteFile(log, "");
    }
}

// Writes, rotates in the middle, and stops writing; the watcher (if any) runs meanwhile.
long WriteScenario(const Options& options, const fs::path& log, const std::function<void()>& started) {
    NumberingWriter writer(log);
    writer.WriteNext();
    started();
    std::atomic<bool> reopen{false};
    const auto begin = Clock::now();
    const auto rotateAt =
        begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.Before));
    writer.WriteUntil(rotateAt, options.Rate, reopen);
    std::thread rotation([&] { Rotate(options, log, reopen); });
    const double busy = options.Scenario.starts_with("folder") ? options.Away : options.Lag;
    writer.WriteUntil(rotateAt + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(busy + options.After)),
                      options.Rate, reopen);
    rotation.join();
    return writer.Written();
}

void RunOnce(const Options& options) {
    char pattern[] = "/tmp/kavel-rotation-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        Fail("cannot create a temporary folder");
    const fs::path home = pattern;
    const fs::path log = home / "logs" / "access.log";
    PrepareHome(options, home, log);

    int out[2];
    if (::pipe(out) != 0)
        Fail("pipe");
    const pid_t watch = ::fork();
    if (watch == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDERR_FILENO);
        ::execl(options.Cli.c_str(), options.Cli.c_str(), "watch", "--home", home.c_str(), "--format", "tsv",
                "--quiet-popups", static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(out[1]);
    WatchOutput output;
    std::thread reader([&] { output.Read(out[0]); });

    const long written = WriteScenario(options, log, [&] {
        // The watcher has started once it printed the first line.
        const auto deadline = Clock::now() + 30s;
        while (output.Distinct() == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
    });
    // Drained when everything is printed, or nothing more came for a while.
    long last = -1;
    auto quietSince = Clock::now();
    const auto quietLimit = std::chrono::milliseconds(3 * options.PollMs + 3000);
    while (output.Distinct() < written) {
        const long now = output.Distinct();
        if (now != last) {
            last = now;
            quietSince = Clock::now();
        } else if (Clock::now() - quietSince > quietLimit) {
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    ::kill(watch, SIGTERM);
    reader.join();
    ::close(out[0]);
    int status = 0;
    ::waitpid(watch, &status, 0);

    const std::map<long, int> counts = output.Counts();
    // What no file holds any more was lost by the rotation itself: copytruncate loses what the
    // web server writes between the end of the copy and the cut.
    const std::set<long> onDisk = NumbersInFolder(log.parent_path());
    long missing = 0;
    long neverOnDisk = 0;
    long twice = 0;
    for (long n = 1; n <= written; ++n) {
        const auto found = counts.find(n);
        if (found == counts.end()) {
            ++missing;
            if (options.Scenario == "copytruncate" && !onDisk.contains(n))
                ++neverOnDisk;
        } else if (found->second > 1) {
            twice += found->second - 1;
        }
    }
    // What the scenario waits for: the web server's reopening, or the folder's return.
    const bool folder = options.Scenario.starts_with("folder");
    const bool waits = options.Scenario != "copytruncate";
    std::printf("%-16s rate %6.0f/s  %-4s %3.1f s  poll %5d ms  grace %-7s  written %7ld  printed %7ld  "
                "missing %6ld  twice %6ld",
                options.Scenario.c_str(), options.Rate,
                folder  ? "away"
                : waits ? "lag"
                        : "-",
                folder  ? options.Away
                : waits ? options.Lag
                        : 0.0,
                options.PollMs, options.Grace ? std::to_string(*options.Grace).c_str() : "default", written,
                static_cast<long>(counts.size()), missing, twice);
    if (options.Scenario == "copytruncate")
        std::printf("  (in neither the copy nor the log: %ld)", neverOnDisk);
    std::printf("\n");
    if (options.Verbose) {
        // The missing numbers as ranges.
        for (long n = 1; n <= written; ++n) {
            if (counts.contains(n))
                continue;
            long to = n;
            while (to + 1 <= written && !counts.contains(to + 1))
                ++to;
            std::printf("    missing %ld-%ld\n", n, to);
            n = to;
        }
    }
    std::fflush(stdout);
    std::error_code ignored;
    fs::remove_all(home, ignored);
    fs::path away = log.parent_path();
    away += ".away";
    fs::remove_all(away, ignored);
}

Options ReadOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Fail(std::string(arg) + " needs a value");
            return argv[++i];
        };
        if (arg == "--cli")
            options.Cli = value();
        else if (arg == "--scenario")
            options.Scenario = value();
        else if (arg == "--home")
            options.Home = value();
        else if (arg == "--write-only")
            options.WriteOnly = true;
        else if (arg == "--rate")
            options.Rate = std::stod(value());
        else if (arg == "--lag")
            options.Lag = std::stod(value());
        else if (arg == "--poll")
            options.PollMs = std::stoi(value());
        else if (arg == "--grace")
            options.Grace = std::stoi(value());
        else if (arg == "--before")
            options.Before = std::stod(value());
        else if (arg == "--after")
            options.After = std::stod(value());
        else if (arg == "--away")
            options.Away = std::stod(value());
        else if (arg == "--verbose")
            options.Verbose = true;
        else if (arg == "--delay")
            options.Delay = std::stod(value());
        else if (arg == "--runs")
            options.Runs = std::stoi(value());
        else
            Fail("unknown argument " + std::string(arg));
    }
    if (options.WriteOnly ? options.Home.empty() : options.Cli.empty())
        Fail("--cli PATH (or --write-only --home DIR) is needed");
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = ReadOptions(argc, argv);
    if (options.WriteOnly) {
        // The home folder is prepared here; the program under test is started on it by the caller.
        const fs::path home = options.Home;
        const fs::path log = home / "logs" / "access.log";
        PrepareHome(options, home, log);
        std::printf("%s\n", log.c_str());
        std::fflush(stdout);
        SleepFor(options.Delay);
        const long written = WriteScenario(options, log, [] {});
        std::printf("%s written %ld\n", options.Scenario.c_str(), written);
        return 0;
    }
    for (int run = 0; run < options.Runs; ++run)
        RunOnce(options);
    return 0;
}
