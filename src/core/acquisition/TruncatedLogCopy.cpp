#include "acquisition/TruncatedLogCopy.h"

#include <algorithm>
#include <exception>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace kavel {

namespace {

std::chrono::system_clock::time_point ModificationTime(const struct stat& info) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
}

struct Candidate {
    std::filesystem::path Path;
    std::chrono::system_clock::time_point Written;
};

} // namespace

std::unique_ptr<LogFileReader> OpenTruncatedLogCopy(const LogFileReader& truncated,
                                                    const std::filesystem::path& log,
                                                    std::chrono::system_clock::time_point now) {
    const std::int64_t anchor = truncated.TailAnchor();
    // Nothing read, nothing to recover; and an empty tail would match any file.
    if (anchor <= 0)
        return nullptr;
    const FileIdentity self = truncated.Identity();
    // A log named through a link is copied beside the file it names.
    std::error_code resolving;
    const std::filesystem::path real = std::filesystem::canonical(log, resolving);
    const std::filesystem::path& named = resolving ? log : real;
    const std::filesystem::path folder = named.has_parent_path() ? named.parent_path() : ".";
    std::vector<Candidate> candidates;
    std::error_code error;
    const auto options = std::filesystem::directory_options::skip_permission_denied;
    for (std::filesystem::directory_iterator it(folder, options, error), end; !error && it != end;
         it.increment(error)) {
        const std::filesystem::directory_entry& entry = *it;
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        const FileIdentity identity{static_cast<std::uint64_t>(info.st_dev),
                                    static_cast<std::uint64_t>(info.st_ino)};
        const auto written = ModificationTime(info);
        if (identity == self || info.st_size < anchor || written < now - TruncatedLogCopyMaxAge)
            continue;
        candidates.push_back({entry.path(), written});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.Written > b.Written; });
    if (candidates.size() > TruncatedLogCopyMaxCandidates)
        candidates.resize(TruncatedLogCopyMaxCandidates);
    for (const Candidate& candidate : candidates) {
        auto copy = std::make_unique<LogFileReader>();
        try {
            copy->Open(candidate.Path);
            // Checked on the open file: what was looked at above may have been replaced since.
            if (copy->Identity() != self && copy->HoldsTailOf(truncated))
                return copy;
        } catch (const std::exception&) {
            // Unreadable or gone: not the copy.
        }
    }
    return nullptr;
}

} // namespace kavel
