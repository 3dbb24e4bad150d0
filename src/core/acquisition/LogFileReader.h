#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kavel {

// A line reader over one log file that a web server keeps writing. The file is opened for
// reading only and without any lock, so the writer is never hindered; it is read with pread in
// blocks and never mapped (a file truncated under a mapping faults the reader). Positions and
// sizes are 64-bit. Every operation that touches the file throws std::system_error on failure.
class LogFileReader {
public:
    static constexpr std::int64_t DefaultBlockSize = 64 * 1024;
    // A line longer than this is dropped: ReadLine returns it empty and skips to its end.
    static constexpr std::size_t DefaultMaxLineLength = 1024 * 1024;
    // Bytes at the start of the file compared to tell a rewritten file from a grown one.
    static constexpr std::size_t HeadLength = 64;

    explicit LogFileReader(std::int64_t blockSize = DefaultBlockSize,
                           std::size_t maxLineLength = DefaultMaxLineLength);
    ~LogFileReader();
    LogFileReader(const LogFileReader&) = delete;
    LogFileReader& operator=(const LogFileReader&) = delete;

    // Opens an existing regular file and fills the buffer once from offset 0.
    void Open(const std::filesystem::path& file);
    void Close();
    bool IsOpen() const { return Fd_ >= 0; }

    // The bytes up to the next line end; LF or CR LF end a line and are consumed. At the end of
    // the data read so far the text up to there is the line (a CR just before the end of data is
    // taken as the first half of a line end). The rest of a line that was dropped for its length
    // is skipped by the next call, even across the end of data.
    std::string ReadLine();
    std::int64_t Position() const { return BufferStart_ + static_cast<std::int64_t>(BufferPos_); }
    // The size of the open file as the system reports it now.
    std::int64_t Size() const;
    // Position() >= Size(); answered from the buffer while it still holds unread bytes.
    bool AtEnd() const;
    // Moves to p, within the buffer when it holds p, else by Refill.
    void Seek(std::int64_t p);
    // Reads the block that holds p and moves to p.
    void Refill(std::int64_t p);

    // Whether the first bytes of the file still are the ones seen before: false after the file
    // was truncated and written anew, even when it has since grown past the read position.
    bool HeadUnchanged();
    // Remembers the first bytes of the file as they are now.
    void CaptureHead();

private:
    void Fill();
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
    std::string Head_;
};

} // namespace kavel
