#include "acquisition/LogFileReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kavel {

namespace {
[[noreturn]] void ThrowErrno(int error, const char* what) {
    throw std::system_error(error, std::generic_category(), what);
}
} // namespace

LogFileReader::LogFileReader(std::int64_t blockSize, std::size_t maxLineLength)
    : BlockSize_(std::max<std::int64_t>(blockSize, 1))
    , MaxLineLength_(maxLineLength)
    , Buffer_(static_cast<std::size_t>(BlockSize_)) {}

LogFileReader::~LogFileReader() {
    Close();
}

void LogFileReader::Open(const std::filesystem::path& file) {
    Close();
    // Non-blocking so that a FIFO planted under the log's name cannot hold the reader in open.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        ThrowErrno(errno, "open");
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        ThrowErrno(error, "fstat");
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        ThrowErrno(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, "open");
    }
    Fd_ = fd;
    BufferStart_ = 0;
    BufferPos_ = 0;
    BufferEnd_ = 0;
    Discarding_ = false;
    PendingCr_ = false;
    Fill();
    CaptureHead();
}

void LogFileReader::Close() {
    if (Fd_ >= 0) {
        ::close(Fd_);
        Fd_ = -1;
    }
}

std::size_t LogFileReader::ReadAt(std::int64_t offset, char* data, std::size_t length) const {
    if (Fd_ < 0) {
        ThrowErrno(EBADF, "read");
    }
    for (;;) {
        const ssize_t n = ::pread(Fd_, data, length, static_cast<off_t>(offset));
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            ThrowErrno(errno, "read");
        }
    }
}

void LogFileReader::Fill() {
    const std::int64_t next = BufferStart_ + static_cast<std::int64_t>(BufferEnd_);
    const std::size_t got = ReadAt(next, Buffer_.data(), Buffer_.size());
    BufferStart_ = next;
    BufferPos_ = 0;
    BufferEnd_ = got;
}

std::string LogFileReader::ReadLine() {
    std::string line;
    bool overlong = false;
    for (;;) {
        if (BufferPos_ >= BufferEnd_) {
            Fill();
            if (BufferEnd_ == 0) {
                // End of the data for now: what was read is the line. A dropped line keeps
                // being skipped when the rest of it arrives.
                if (overlong || Discarding_) {
                    Discarding_ = true;
                    return std::string();
                }
                const bool cr = !line.empty() && line.back() == '\r';
                if (cr) {
                    line.pop_back();
                }
                if (line.size() > MaxLineLength_) {
                    Discarding_ = true;
                    return std::string();
                }
                PendingCr_ = cr;
                return line;
            }
        }
        if (PendingCr_) {
            PendingCr_ = false;
            if (Buffer_[BufferPos_] == '\n') {
                ++BufferPos_;
                continue;
            }
        }
        const char* begin = Buffer_.data() + BufferPos_;
        const char* end = Buffer_.data() + BufferEnd_;
        const char* lf =
            static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
        const char* stop = lf != nullptr ? lf : end;
        if (!Discarding_ && !overlong) {
            const std::size_t take = static_cast<std::size_t>(stop - begin);
            if (line.size() + take > MaxLineLength_ + 1) {
                overlong = true;
                line.clear();
                line.shrink_to_fit();
            } else {
                line.append(begin, take);
            }
        }
        BufferPos_ = static_cast<std::size_t>(stop - Buffer_.data());
        if (lf == nullptr) {
            continue;
        }
        ++BufferPos_;
        const bool dropped = overlong || Discarding_;
        Discarding_ = false;
        if (dropped) {
            return std::string();
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.size() > MaxLineLength_) {
            return std::string();
        }
        return line;
    }
}

std::int64_t LogFileReader::Size() const {
    if (Fd_ < 0) {
        ThrowErrno(EBADF, "fstat");
    }
    struct stat info {};
    if (::fstat(Fd_, &info) != 0) {
        ThrowErrno(errno, "fstat");
    }
    return static_cast<std::int64_t>(info.st_size);
}

bool LogFileReader::AtEnd() const {
    if (BufferPos_ < BufferEnd_) {
        return false;
    }
    return Position() >= Size();
}

void LogFileReader::Seek(std::int64_t p) {
    if (p >= BufferStart_ && p < BufferStart_ + static_cast<std::int64_t>(BufferEnd_)) {
        BufferPos_ = static_cast<std::size_t>(p - BufferStart_);
        Discarding_ = false;
        PendingCr_ = false;
        return;
    }
    Refill(p);
}

void LogFileReader::Refill(std::int64_t p) {
    if (p < 0) {
        ThrowErrno(EINVAL, "seek");
    }
    const std::int64_t block = p - p % BlockSize_;
    const std::size_t got = ReadAt(block, Buffer_.data(), Buffer_.size());
    BufferStart_ = block;
    BufferEnd_ = got;
    // Beyond the data read the position stays p: the next fill reads on from there.
    if (static_cast<std::int64_t>(got) < p - block) {
        BufferStart_ = p;
        BufferEnd_ = 0;
        BufferPos_ = 0;
    } else {
        BufferPos_ = static_cast<std::size_t>(p - block);
    }
    Discarding_ = false;
    PendingCr_ = false;
}

bool LogFileReader::HeadUnchanged() {
    std::string now(HeadLength, '\0');
    now.resize(ReadAt(0, now.data(), now.size()));
    if (now.size() < Head_.size() || now.compare(0, Head_.size(), Head_) != 0) {
        return false;
    }
    // A file that was shorter than the compared head has grown: compare more next time.
    Head_ = std::move(now);
    return true;
}

void LogFileReader::CaptureHead() {
    std::string head(HeadLength, '\0');
    head.resize(ReadAt(0, head.data(), head.size()));
    Head_ = std::move(head);
}

} // namespace kavel
