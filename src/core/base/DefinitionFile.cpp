#include "base/DefinitionFile.h"

#include "base/Text.h"
#include "base/VersionInfo.h"
#include "platform/Clock.h"
#include "platform/LocaleFormat.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kavel {

namespace {

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : Fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return Fd_; }
    // Returns the errno of a failed close, 0 otherwise.
    int Close() {
        if (Fd_ < 0)
            return 0;
        const int rc = ::close(Fd_);
        Fd_ = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int Fd_;
};

std::string ReadAll(const std::filesystem::path& file, bool& missing) {
    missing = false;
    int fd;
    do {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT) {
            missing = true;
            return {};
        }
        ThrowErrno(errno, "cannot open " + file.string());
    }
    FileDescriptor guard(fd);
    std::string content;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        content.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno, "cannot read " + file.string());
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

void WriteAll(int fd, std::string_view content, const std::string& name) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno, "cannot write " + name);
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string TemporaryName(const std::string& file) {
    static std::atomic<unsigned> counter{0};
    thread_local std::minstd_rand random(std::random_device{}());
    return "." + file + ".tmp" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1, std::memory_order_relaxed)) + "-" + std::to_string(random());
}

} // namespace

std::optional<std::string> ReadFileContent(const std::filesystem::path& file) {
    bool missing = false;
    std::string content = ReadAll(file, missing);
    if (missing)
        return std::nullopt;
    return content;
}

void ThrowIfStopped(const std::stop_token& stop) {
    if (stop.stop_requested())
        throw LoadStoppedError("loading stopped");
}

std::optional<std::vector<std::string>> ReadDefinitionLines(const std::filesystem::path& file,
                                                            std::stop_token stop) {
    ThrowIfStopped(stop);
    const auto read = ReadFileContent(file);
    if (!read)
        return std::nullopt;
    const std::string& content = *read;
    std::vector<std::string> lines;
    const std::size_t n = content.size();
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < n) {
        const char c = content[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        lines.emplace_back(content, start, i - start);
        if ((lines.size() & 0xFFFF) == 0)
            ThrowIfStopped(stop);
        i += c == '\r' && i + 1 < n && content[i + 1] == '\n' ? std::size_t{2} : std::size_t{1};
        start = i;
    }
    if (start < n)
        lines.emplace_back(content, start, n - start);
    return lines;
}

void UnreadLines::Add(std::size_t lineNumber) {
    ++Count;
    if (!FirstLine)
        FirstLine = lineNumber;
}

std::string DescribeUnreadLines(std::string_view fileName, const UnreadLines& unread) {
    if (unread.Count == 0)
        return {};
    return std::string(fileName) + ": " + std::to_string(unread.Count) +
           " unreadable line(s) kept unchanged, the first is line " +
           std::to_string(unread.FirstLine.value_or(0));
}

std::string JoinDefinitionLines(std::string_view header, const std::vector<std::string>& entryLines,
                                const std::vector<KeptLine>& kept) {
    std::string text(header);
    if (!header.empty())
        text += "\r\n";
    std::size_t next = 0;
    const auto keptUpTo = [&](std::size_t entries) {
        for (; next < kept.size() && kept[next].EntriesBefore <= entries; ++next) {
            text += kept[next].Text;
            text += "\r\n";
        }
    };
    for (std::size_t i = 0; i < entryLines.size(); ++i) {
        keptUpTo(i);
        text += entryLines[i];
        text += "\r\n";
    }
    // Lines that stood after entries since removed stay at the end.
    keptUpTo(static_cast<std::size_t>(-1));
    return text;
}

std::string DefinitionFileHeader(std::string_view kind, bool withTime) {
    std::string header = "# ";
    header += kind;
    header += " Definition File\r\n# This file was automatically generated by ";
    header += ProductName();
    header += ". Pleasy do not modify.";
    if (withTime) {
        header += "\r\n# Last modification was at ";
        header += platform::FormatDateTime(platform::Now());
    }
    return header;
}

void WriteFileAtomically(const std::filesystem::path& file, std::string_view content) {
    WriteFileAtomically(file, [content](const FileSink& sink) { sink(content); });
}

void WriteFileAtomically(const std::filesystem::path& file,
                         const std::function<void(const FileSink&)>& write) {
    // A symbolic link stays a link: the file it points to is replaced.
    std::filesystem::path resolved = file;
    std::error_code ec;
    if (std::filesystem::is_symlink(file, ec)) {
        const std::filesystem::path real = std::filesystem::weakly_canonical(file, ec);
        if (!ec)
            resolved = real;
    }
    const std::filesystem::path folder = resolved.has_parent_path() ? resolved.parent_path() : ".";
    const std::string target = resolved.string();

    // Keep the permissions of the file being replaced; a new file gets the umask's default.
    mode_t mode = 0666;
    struct stat old {};
    const bool hadOld = ::stat(target.c_str(), &old) == 0;
    if (hadOld)
        mode = old.st_mode & 07777;

    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = (folder / TemporaryName(resolved.filename().string())).string();
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && !(errno == EEXIST && attempt < 100) && errno != EINTR)
            ThrowErrno(errno, "cannot create a file in " + folder.string());
    }
    FileDescriptor guard(fd);
    try {
        if (hadOld)
            (void)::fchmod(fd, mode);
        write([fd, &temp](std::string_view piece) { WriteAll(fd, piece, temp); });
        if (::fsync(fd) != 0)
            ThrowErrno(errno, "cannot flush " + temp);
        if (const int error = guard.Close(); error != 0)
            ThrowErrno(error, "cannot close " + temp);
        if (::rename(temp.c_str(), target.c_str()) != 0)
            ThrowErrno(errno, "cannot replace " + target);
    } catch (...) {
        guard.Close();
        ::unlink(temp.c_str());
        throw;
    }
    // Makes the rename itself durable; the new content is already complete either way.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

bool IsTemporaryNameOf(std::string_view name, std::string_view fileName) {
    // "." fileName ".tmp" <pid> "-" <counter> "-" <random>
    const std::string prefix = "." + std::string(fileName) + ".tmp";
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
        return false;
    const std::string_view rest = name.substr(prefix.size());
    int numbers = 0;
    bool inNumber = false;
    for (const char c : rest) {
        if (c >= '0' && c <= '9') {
            if (!inNumber)
                ++numbers;
            inNumber = true;
        } else if (c == '-' && inNumber) {
            inNumber = false;
        } else {
            return false;
        }
    }
    return inNumber && numbers == 3;
}

std::size_t RemoveStaleTemporaryFiles(const std::filesystem::path& folder,
                                      const std::vector<std::string>& fileNames,
                                      std::chrono::seconds minAge) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return 0;
    const auto now = std::filesystem::file_time_type::clock::now();
    std::size_t removed = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        const std::string name = it->path().filename().string();
        const bool ours = std::any_of(fileNames.begin(), fileNames.end(), [&name](const std::string& file) {
            return IsTemporaryNameOf(name, file);
        });
        // A link or folder of that name was not made by a save.
        if (!ours || !it->is_regular_file(ec) || it->is_symlink(ec))
            continue;
        const auto written = it->last_write_time(ec);
        if (ec || now - written < minAge)
            continue;
        if (std::filesystem::remove(it->path(), ec))
            ++removed;
    }
    return removed;
}

} // namespace kavel
