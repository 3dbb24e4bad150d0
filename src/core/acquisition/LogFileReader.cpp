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

// FNV-1a, 64 bits: only tells equal bytes from changed ones.
std::uint64_t Fnv1a(const char* data, std::size_t length) {
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}
} // namespace

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

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
        throw NotRegularFileError();
    }
    Fd_ = fd;
    BufferStart_ = 0;
    BufferPos_ = 0;
    BufferEnd_ = 0;
    Recent_.clear();
    RecentEnd_ = 0;
    Discarding_ = false;
    PendingCr_ = false;
    Fill();
    CaptureTail(0);
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
    KeepRecent();
    const std::int64_t next = BufferStart_ + static_cast<std::int64_t>(BufferEnd_);
    const std::size_t got = ReadAt(next, Buffer_.data(), Buffer_.size());
    BufferStart_ = next;
    BufferPos_ = 0;
    BufferEnd_ = got;
}

std::string LogFileReader::ReadLine() {
    bool complete = false;
    return ReadLineUpTo(complete);
}

bool LogFileReader::ReadCompleteLine(std::string& line) {
    const std::int64_t start = Position();
    const bool pendingCr = PendingCr_;
    const bool discarding = Discarding_;
    bool complete = false;
    line = ReadLineUpTo(complete);
    if (!complete) {
        Seek(start);
        PendingCr_ = pendingCr;
        Discarding_ = discarding;
        line.clear();
    }
    return complete;
}

bool LogFileReader::ReadCompleteLine(std::string_view& line) {
    if (!PendingCr_ && !Discarding_ && BufferPos_ < BufferEnd_) {
        const char* begin = Buffer_.data() + BufferPos_;
        const char* end = Buffer_.data() + BufferEnd_;
        const char* stop = std::find_if(begin, end, [](char c) { return c == '\n' || c == '\r'; });
        const auto take = static_cast<std::size_t>(stop - begin);
        // A CR as the buffer's last byte may be half of a CR LF: that case reads on below.
        if (stop != end && take <= MaxLineLength_ && (*stop == '\n' || stop + 1 != end)) {
            BufferPos_ += take + 1;
            if (*stop == '\r' && Buffer_[BufferPos_] == '\n')
                ++BufferPos_;
            line = std::string_view(begin, take);
            return true;
        }
    }
    const bool complete = ReadCompleteLine(Spill_);
    line = Spill_;
    return complete;
}

std::string LogFileReader::ReadLineUpTo(bool& complete) {
    complete = false;
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
        const char* stop = std::find_if(begin, end, [](char c) { return c == '\n' || c == '\r'; });
        if (!Discarding_ && !overlong) {
            const std::size_t take = static_cast<std::size_t>(stop - begin);
            if (line.size() + take > MaxLineLength_) {
                overlong = true;
                line.clear();
                line.shrink_to_fit();
            } else {
                line.append(begin, take);
            }
        }
        BufferPos_ = static_cast<std::size_t>(stop - Buffer_.data());
        if (stop == end) {
            continue;
        }
        ++BufferPos_;
        if (*stop == '\r') {
            // CR LF is one line end, also across a block border; when the LF may still be
            // written, the next read skips it.
            if (BufferPos_ >= BufferEnd_) {
                Fill();
            }
            if (BufferPos_ < BufferEnd_) {
                if (Buffer_[BufferPos_] == '\n') {
                    ++BufferPos_;
                }
            } else {
                PendingCr_ = true;
            }
        }
        complete = true;
        const bool dropped = overlong || Discarding_;
        Discarding_ = false;
        if (dropped) {
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
    ForgetRecentFrom(p);
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
    ForgetRecentFrom(p);
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

FileIdentity LogFileReader::Identity() const {
    if (Fd_ < 0) {
        ThrowErrno(EBADF, "fstat");
    }
    struct stat info {};
    if (::fstat(Fd_, &info) != 0) {
        ThrowErrno(errno, "fstat");
    }
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::uint64_t LogFileReader::RangeHash(std::int64_t from, std::int64_t to) const {
    std::string bytes(static_cast<std::size_t>(to - from), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const std::size_t n =
            ReadAt(from + static_cast<std::int64_t>(got), bytes.data() + got, bytes.size() - got);
        if (n == 0) {
            break;
        }
        got += n;
    }
    bytes.resize(got);
    return Fnv1a(bytes.data(), bytes.size()) ^ got;
}

std::uint64_t LogFileReader::TailHash(std::int64_t anchor) const {
    return RangeHash(std::max<std::int64_t>(0, anchor - static_cast<std::int64_t>(TailLength)), anchor);
}

void LogFileReader::KeepRecent() {
    const std::int64_t position = Position();
    std::size_t from = 0;
    if (RecentEnd_ >= BufferStart_ && RecentEnd_ <= position) {
        from = static_cast<std::size_t>(RecentEnd_ - BufferStart_);
    } else {
        // Not joined to what the buffer holds (the reader jumped): start again from the buffer.
        Recent_.clear();
        from = BufferPos_ > RecentKeep ? BufferPos_ - RecentKeep : 0;
    }
    if (BufferPos_ - from >= RecentKeep) {
        // The new bytes alone fill it: only their end is kept.
        Recent_.clear();
        from = BufferPos_ - RecentKeep;
    }
    Recent_.append(Buffer_.data() + from, BufferPos_ - from);
    if (Recent_.size() > RecentKeep) {
        Recent_.erase(0, Recent_.size() - RecentKeep);
    }
    RecentEnd_ = position;
}

void LogFileReader::ForgetRecentFrom(std::int64_t p) {
    if (p >= RecentEnd_) {
        return;
    }
    const std::int64_t kept = p - (RecentEnd_ - static_cast<std::int64_t>(Recent_.size()));
    Recent_.resize(kept > 0 ? static_cast<std::size_t>(kept) : 0);
    RecentEnd_ = p;
}

void LogFileReader::CaptureTail(std::int64_t anchor) {
    TailAnchor_ = std::max<std::int64_t>(anchor, 0);
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(TailAnchor_, TailLength));
    if (TailAnchor_ == Position()) {
        KeepRecent();
        if (Recent_.size() >= wanted) {
            // The same hash as TailHash gives for a file that still holds these bytes.
            TailHash_ = Fnv1a(Recent_.data() + Recent_.size() - wanted, wanted) ^ wanted;
            return;
        }
    }
    TailHash_ = TailHash(TailAnchor_);
}

bool LogFileReader::TailUnchanged() const {
    return Size() >= TailAnchor_ && TailHash(TailAnchor_) == TailHash_;
}

bool LogFileReader::HoldsTailOf(const LogFileReader& original) const {
    return Size() >= original.TailAnchor_ && TailHash(original.TailAnchor_) == original.TailHash_;
}

ReadMark LogFileReader::Mark() const {
    ReadMark mark;
    mark.Identity = Identity();
    mark.Position = Position();
    mark.HeadLength = std::min<std::int64_t>(mark.Position, static_cast<std::int64_t>(TailLength));
    mark.HeadHash = RangeHash(0, mark.HeadLength);
    return mark;
}

bool LogFileReader::Continues(const ReadMark& mark) const {
    return Identity() == mark.Identity && Size() >= mark.Position &&
           RangeHash(0, mark.HeadLength) == mark.HeadHash;
}

} // namespace kavel
