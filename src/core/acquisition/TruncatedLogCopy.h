#pragma once

#include "acquisition/LogFileReader.h"

#include <chrono>
#include <filesystem>
#include <memory>

namespace kavel {

// How recently the copy of a truncated log must have been written, and how many candidates of
// a busy log folder are looked into at most, newest first.
inline constexpr std::chrono::minutes TruncatedLogCopyMaxAge{10};
inline constexpr std::size_t TruncatedLogCopyMaxCandidates = 32;

// The copy that a copytruncate rotation made of the log just before it cut the log back: the
// lines written between the reader's last pass and the cut are only there. It is a regular file
// (not a link) in the folder of the file the log's name leads to, other than the log, written
// within the last minutes, at least as long as what was read of the log, and holding before
// that point the bytes the reader read there (the truncated reader's kept tail). The newest such
// file, opened; nothing when there is none (the rotation compressed the copy at once, or
// nothing was read yet).
std::unique_ptr<LogFileReader>
OpenTruncatedLogCopy(const LogFileReader& truncated, const std::filesystem::path& log,
                     std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

} // namespace kavel
