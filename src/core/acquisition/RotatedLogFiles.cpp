#include "acquisition/RotatedLogFiles.h"

#include "platform/Clock.h"

#include <algorithm>
#include <exception>

namespace kavel {

RotatedLogFiles::RotatedLogFiles(std::int64_t graceMs)
    : GraceMs_(std::max<std::int64_t>(graceMs, 0)) {}

std::uint64_t RotatedLogFiles::GiveUp(FollowedFile& file, bool remember) {
    const bool held = file.Holding;
    if (file.Reader && file.Reader->IsOpen()) {
        if (remember) {
            try {
                Marks_.push_back(Mark{file.Reader->Mark(), held});
                if (Marks_.size() > MaxMarks)
                    Marks_.pop_front();
            } catch (const std::exception&) {
                // A file that cannot be looked at any more cannot be recognised either.
            }
        }
        file.Reader->Close();
    }
    file.Holding = false;
    return held ? 1 : 0;
}

std::uint64_t RotatedLogFiles::Add(FollowedFile file) {
    if (GraceMs_ == 0)
        return GiveUp(file);
    Follower follower;
    try {
        follower.Identity = file.Reader->Identity();
        follower.Size = file.Reader->Size();
    } catch (const std::exception&) {
        return GiveUp(file, false);
    }
    follower.File = std::move(file);
    follower.LastGrowth = platform::Now();
    Followed_.push_back(std::move(follower));
    if (Followed_.size() <= MaxFollowed)
        return 0;
    const std::uint64_t given = GiveUp(Followed_.front().File);
    Followed_.pop_front();
    return given;
}

std::uint64_t RotatedLogFiles::ReadEach(const std::function<bool(FollowedFile&)>& read) {
    std::uint64_t given = 0;
    for (auto it = Followed_.begin(); it != Followed_.end();) {
        Follower& follower = *it;
        LogFileReader& reader = *follower.File.Reader;
        bool keep = true;
        bool contentGone = false;
        try {
            if (!reader.TailUnchanged()) {
                keep = false;
                contentGone = true;
            } else {
                if (!read(follower.File))
                    return given;
                reader.CaptureTail(reader.Position());
                // Taken after the read: what arrived meanwhile counts as growth and is read by
                // a later pass, so a file is given up only once all it holds has been read.
                const std::int64_t size = reader.Size();
                const DateTime now = platform::Now();
                if (size != follower.Size || now < follower.LastGrowth) {
                    follower.Size = size;
                    follower.LastGrowth = now;
                } else if (now.Ms - follower.LastGrowth.Ms >= GraceMs_) {
                    keep = false;
                }
            }
        } catch (const std::exception&) {
            keep = false;
        }
        if (keep) {
            ++it;
            continue;
        }
        given += GiveUp(follower.File, !contentGone);
        it = Followed_.erase(it);
    }
    return given;
}

Resumption RotatedLogFiles::Resume(FollowedFile& opened) {
    const FileIdentity identity = opened.Reader->Identity();
    const auto followed = std::find_if(Followed_.begin(), Followed_.end(),
                                       [&identity](const Follower& f) { return f.Identity == identity; });
    if (followed != Followed_.end()) {
        opened = std::move(followed->File);
        Followed_.erase(followed);
        return Resumption::Followed;
    }
    Resumption result = Resumption::None;
    // The newest mark of the identity is the one to continue; older ones are stale either way.
    const auto marked = std::find_if(Marks_.rbegin(), Marks_.rend(), [&identity](const Mark& mark) {
        return mark.Read.Identity == identity;
    });
    if (marked != Marks_.rend() && opened.Reader->Continues(marked->Read)) {
        opened.Reader->Seek(marked->Read.Position);
        opened.RestartPos = marked->Read.Position;
        opened.Holding = false;
        result = marked->HeldLine ? Resumption::AtMarkWithHeldLine : Resumption::AtMark;
    }
    std::erase_if(Marks_, [&identity](const Mark& mark) { return mark.Read.Identity == identity; });
    return result;
}

} // namespace kavel
