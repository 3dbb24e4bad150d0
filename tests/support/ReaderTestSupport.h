#pragma once

#include "acquisition/ReaderRegistry.h"
#include "net/ReverseLookup.h"
#include "platform/Dispatcher.h"
#include "support/TestWorkspace.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace kavel::test {

inline constexpr std::chrono::milliseconds DefaultDeadline{20000};

// Runs the main loop until done() holds or the deadline passes. done() is looked at after every
// event and at least every few milliseconds, for conditions that change without an event.
inline bool RunLoopUntil(platform::LoopDispatcher& loop, const std::function<bool()>& done,
                         std::chrono::milliseconds deadline = DefaultDeadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (loop.RunUntil(done, std::chrono::milliseconds{5})) {
            return true;
        }
    }
    return done();
}

// Waits without a loop (the main thread is not involved) until done() holds or the deadline.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds deadline = DefaultDeadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds{1});
    }
    return true;
}

// Client addresses stay unresolved for the scope: a reader's parser never asks the network.
class ScopedNoNameLookups {
public:
    ScopedNoNameLookups() {
        Space().Names().SetResolver(
            [](std::string_view) -> std::optional<std::string> { return std::nullopt; });
        Space().Names().Clear();
    }
    ~ScopedNoNameLookups() {
        Space().Names().SetResolver({});
        Space().Names().Clear();
    }
    ScopedNoNameLookups(const ScopedNoNameLookups&) = delete;
    ScopedNoNameLookups& operator=(const ScopedNoNameLookups&) = delete;
};

// A fresh folder under the system's temporary folder for the reader tests' logs, removed at the
// end of the scope.
class LogFolder {
public:
    LogFolder() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (;;) {
            Path_ = std::filesystem::temp_directory_path() /
                    ("kavel-logs-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                     std::to_string(stamp));
            if (std::filesystem::create_directory(Path_)) {
                break;
            }
        }
    }
    ~LogFolder() {
        std::error_code error;
        std::filesystem::remove_all(Path_, error);
    }
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;

    std::filesystem::path operator/(std::string_view name) const { return Path_ / name; }
    const std::filesystem::path& Path() const { return Path_; }

private:
    std::filesystem::path Path_;
};

inline void WriteLog(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Appends as a web server does: the bytes reach the file at once.
inline void AppendLog(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
}

// The status text shown while the named server's reader is being stopped.
inline std::string StoppingStatus(std::string_view serverName) {
    return std::string(StoppingReaderStatusHead) + std::string(serverName) +
           std::string(StoppingReaderStatusTail);
}

} // namespace kavel::test

namespace kavel::test {

// Writes a log as a web server and logrotate do, one step at a time: the reader test decides
// when the reader may look between two steps. Like a web server it writes through the handle
// it opened, into that file whatever it is called by now, until it reopens its log.
class LogWriter {
public:
    // header is written at the start of every new file (a W3C log's directives).
    LogWriter(std::filesystem::path file, std::string header = {})
        : File_(std::move(file))
        , Header_(std::move(header)) {}
    ~LogWriter() { CloseHandle(); }
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    const std::filesystem::path& File() const { return File_; }

    // A new file under the log's name, opened for writing: at the start, after deletion, or late.
    void Create() {
        WriteLog(File_, Header_);
        Reopen();
    }
    void Append(std::string_view bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(Fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                throw std::runtime_error("log writer: write failed");
            done += static_cast<std::size_t>(n);
        }
    }
    // The web server's reload: it opens the file under the log's name (created when missing).
    void Reopen() {
        CloseHandle();
        Fd_ = ::open(File_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (Fd_ < 0)
            throw std::runtime_error("log writer: cannot open " + File_.string());
    }
    // logrotate's create: the log is renamed away (to the next ".N", or to the name given) and
    // a new one is created under its name; the web server writes on into the renamed file.
    std::filesystem::path RotateAway(std::string suffix = {}) {
        std::filesystem::path rotated = File_;
        rotated += suffix.empty() ? "." + std::to_string(++Rotations_) : suffix;
        std::filesystem::rename(File_, rotated);
        WriteLog(File_, Header_);
        return rotated;
    }
    // The same with a web server that reopens its log at once.
    void MoveAndCreate() {
        RotateAway();
        Reopen();
    }
    void Delete() const { std::filesystem::remove(File_); }
    // logrotate's copytruncate: the log is copied away (to the next ".copyN", or to the name
    // given) and cut to nothing in place; the web server writes on into the same file and puts
    // its header anew at the start.
    std::filesystem::path CopyTruncate(std::string suffix = {}) {
        std::filesystem::path copy = File_;
        copy += suffix.empty() ? ".copy" + std::to_string(++Rotations_) : suffix;
        std::filesystem::copy_file(File_, copy);
        std::filesystem::resize_file(File_, 0);
        Append(Header_);
        return copy;
    }

private:
    void CloseHandle() {
        if (Fd_ >= 0)
            ::close(Fd_);
        Fd_ = -1;
    }

    std::filesystem::path File_;
    std::string Header_;
    int Fd_ = -1;
    int Rotations_ = 0;
};

} // namespace kavel::test
