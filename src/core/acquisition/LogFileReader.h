#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// Which file a path or an open handle names: a log rotated away keeps its identity under its new
// name, while the path then names another file.
struct FileIdentity {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
// The identity of the file the path names now; nothing when it names none.
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& file);

// Where the reading of a file stopped, with what identifies that file: its device and inode, and a
// hash of its first bytes (an inode number is used again for a new file once the old one is gone).
struct ReadMark {
    FileIdentity Identity;
    std::int64_t Position = 0;
    std::int64_t HeadLength = 0;
    std::uint64_t HeadHash = 0;
};

// Something other than a regular file stands under the log's name (a folder, a FIFO, a device).
class NotRegularFileError : public std::runtime_error {
public:
    NotRegularFileError()
        : std::runtime_error("not a regular file") {}
};

// A line reader over one log file that a web server keeps writing. The file is opened for
// reading only and without any lock, so the writer is never hindered; it is read with pread in
// blocks and never mapped (a file truncated under a mapping faults the reader). Positions and
// sizes are 64-bit. Every operation that touches the file throws std::system_error on failure.
class LogFileReader {
public:
    static constexpr std::int64_t DefaultBlockSize = 64 * 1024;
    // A line longer than this is dropped: ReadLine returns it empty and skips to its end.
    static constexpr std::size_t DefaultMaxLineLength = 1024 * 1024;
    // Bytes before the read position whose hash tells a rewritten file from a grown one.
    static constexpr std::size_t TailLength = 4096;

    explicit LogFileReader(std::int64_t blockSize = DefaultBlockSize,
                           std::size_t maxLineLength = DefaultMaxLineLength);
    ~LogFileReader();
    LogFileReader(const LogFileReader&) = delete;
    LogFileReader& operator=(const LogFileReader&) = delete;

    // Opens an existing regular file and fills the buffer once from offset 0; throws
    // NotRegularFileError for anything else, without blocking on a FIFO.
    void Open(const std::filesystem::path& file);
    void Close();
    bool IsOpen() const { return Fd_ >= 0; }

    // The bytes up to the next line end; LF, CR LF and a lone CR end a line and are consumed (an
    // LF right after a CR that ended the data read so far is skipped by the next call). At the
    // end of the data the text up to there is the line. The rest of a line that was dropped for
    // its length is skipped by the next call, even across the end of data.
    std::string ReadLine();
    // The next line only once its line end has arrived: false, with nothing consumed, while the
    // last line of the file is still unterminated. A dropped overlong line gives an empty line.
    bool ReadCompleteLine(std::string& line);
    // The same as a view, valid until the next call that reads or moves: a line that lies in the
    // buffer is not copied at all.
    bool ReadCompleteLine(std::string_view& line);
    std::int64_t Position() const { return BufferStart_ + static_cast<std::int64_t>(BufferPos_); }
    // The size of the open file as the system reports it now.
    std::int64_t Size() const;
    // Position() >= Size(); answered from the buffer while it still holds unread bytes.
    bool AtEnd() const;
    // Moves to p, within the buffer when it holds p, else by Refill.
    void Seek(std::int64_t p);
    // Reads the block that holds p and moves to p.
    void Refill(std::int64_t p);

    // The identity of the open file.
    FileIdentity Identity() const;

    // Remembers the last TailLength bytes before anchor, the part read last: as they were read
    // into the buffer when the anchor is the read position (a file cut back since the read
    // cannot make them up), else as the file holds them now.
    void CaptureTail(std::int64_t anchor);
    // Whether the file still holds those bytes before the anchor: false after it was truncated,
    // or truncated and written anew past the anchor (a copytruncate rotation refilled quickly).
    bool TailUnchanged() const;
    // The position the kept tail ends at: what was read of the file.
    std::int64_t TailAnchor() const { return TailAnchor_; }
    // Whether this file holds, before original's tail anchor, the bytes original read there: a
    // copy of it made after that read.
    bool HoldsTailOf(const LogFileReader& original) const;

    // The identity, the read position and the head of the open file.
    ReadMark Mark() const;
    // Whether the open file is the one marked, with its head unchanged and at least as long as
    // the marked position.
    bool Continues(const ReadMark& mark) const;

private:
    void Fill();
    // Brings Recent_ up to the read position from the buffer.
    void KeepRecent();
    // The read position moves back to p: what Recent_ holds after p was not read after all.
    void ForgetRecentFrom(std::int64_t p);
    std::string ReadLineUpTo(bool& complete);
    std::uint64_t TailHash(std::int64_t anchor) const;
    std::uint64_t RangeHash(std::int64_t from, std::int64_t to) const;
    std::size_t ReadAt(std::int64_t offset, char* data, std::size_t length) const;

    int Fd_ = -1;
    std::int64_t BlockSize_;
    std::size_t MaxLineLength_;
    std::vector<char> Buffer_;
    std::int64_t BufferStart_ = 0;
    std::size_t BufferPos_ = 0;
    std::size_t BufferEnd_ = 0;
    bool Discarding_ = false;
    bool PendingCr_ = false;
    std::int64_t TailAnchor_ = 0;
    std::uint64_t TailHash_ = 0;
    // The line handed out as a view when it did not lie in the buffer in one piece.
    std::string Spill_;
    // The bytes just before RecentEnd_ as they were read into the buffer, at most RecentKeep: a
    // line read ahead and given back (its end not written yet) still leaves a whole tail.
    static constexpr std::size_t RecentKeep = 3 * TailLength;
    std::string Recent_;
    std::int64_t RecentEnd_ = 0;
};

} // namespace kavel
