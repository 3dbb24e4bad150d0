#pragma once

#include "acquisition/LogFileReader.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

namespace kavel {

// A log file being read: the open file, where a W3C pass starts again (after the last line that
// gave an entry), and whether an unterminated last line waits for its line end.
struct FollowedFile {
    std::unique_ptr<LogFileReader> Reader = std::make_unique<LogFileReader>();
    std::int64_t RestartPos = 0;
    bool Holding = false;
};

// What a file that comes back under the log's name continues.
enum class Resumption : std::uint8_t {
    // Nothing: a new file, read from its start.
    None,
    // A file still followed after its rotation: it is read on by that handle.
    Followed,
    // A file given up earlier: reading goes on at the position it had reached.
    AtMark,
    // The same, and the unterminated line counted as given up then is read after all.
    AtMarkWithHeldLine,
};

// The files a log was rotated away from while the web server may still write into them: it
// writes into the renamed, compressed-away or deleted file until it reopens its log, a moment
// or a few seconds after the rotation. Each is read by the handle already open until it has not
// grown for the grace period, and is then given up. A given-up file is remembered by its
// identity, position and head, so that a file that comes back under the log's name (a folder
// moved away and back) is read on where it stopped instead of again from its start.
class RotatedLogFiles {
public:
    static constexpr std::size_t MaxFollowed = 8;
    static constexpr std::size_t MaxMarks = 8;

    // graceMs: how long a rotated file is read after it last grew; 0 gives it up at once.
    explicit RotatedLogFiles(std::int64_t graceMs);

    bool Empty() const { return Followed_.empty(); }
    std::size_t Count() const { return Followed_.size(); }

    // The file the log was rotated away from, read on from where it stopped; its quiet time
    // starts now (the platform clock). Returns the unterminated lines given up (with a grace of 0, or the
    // oldest file when too many are followed).
    std::uint64_t Add(FollowedFile file);

    // One pass over the followed files, oldest first. A file cut back under what was read is
    // given up unread; read(file) reads the others' new lines (false: a stop was requested,
    // the pass ends). Afterwards a file whose size has not changed for the grace period is
    // given up: everything it held was read. Returns the unterminated lines given up.
    std::uint64_t ReadEach(const std::function<bool(FollowedFile&)>& read);

    // The file just opened under the log's name, when it is one followed or given up before:
    // replaced by the followed one, or moved to the position reached. Marks of its identity
    // whose head no longer matches (the inode of a deleted file used again) are forgotten.
    Resumption Resume(FollowedFile& opened);

private:
    struct Follower {
        FollowedFile File;
        FileIdentity Identity;
        std::int64_t Size = 0;
        DateTime LastGrowth;
    };
    struct Mark {
        ReadMark Read;
        bool HeldLine = false;
    };

    // Closes the file, remembering its mark unless its content is gone; 1 when it held an
    // unterminated line.
    std::uint64_t GiveUp(FollowedFile& file, bool remember = true);

    std::int64_t GraceMs_;
    std::deque<Follower> Followed_;
    std::deque<Mark> Marks_;
};

} // namespace kavel
