#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavel {

// A program and its arguments as a user writes them in one line, split by Kavel itself and
// never by a shell: words are separated by blanks and tabs; a stretch in double quotes keeps
// its blanks, and inside it \" stands for a quote and \\ for a backslash. Quoted and unquoted
// stretches that touch form one word ("a b"c is the word a bc); "" is an empty word. Nothing
// else is special: $, `, ;, |, < and > are ordinary characters, and a backslash outside quotes
// is just a backslash. Nothing when a quote is not closed.
std::optional<std::vector<std::string>> SplitCommandLine(std::string_view line);

// The line that SplitCommandLine reads back as words: words with blanks, tabs or quotes, and
// empty words, are quoted.
std::string JoinCommandLine(const std::vector<std::string>& words);

// Values for the "{name}" placeholders of a command's arguments.
using PlaceholderValues = std::vector<std::pair<std::string, std::string>>;

// Longest value a placeholder puts into an argument, and longest argument: the system limits
// one argument to 128 KiB and all of them together, so a log line of a megabyte is cut.
inline constexpr std::size_t MaxPlaceholderBytes = 8192;
inline constexpr std::size_t MaxArgumentBytes = 65536;

// The argument with every "{name}" of values replaced by its value, in one pass: text that a
// value brings in is never searched for placeholders again. An unknown "{name}" stays as it
// is. Values are cut to MaxPlaceholderBytes, the result to MaxArgumentBytes.
std::string FillPlaceholders(std::string_view argument, const PlaceholderValues& values);

// A value as it can travel in an argument or the environment, which end at a NUL byte: each
// NUL becomes the two characters \0, and the whole is cut to MaxPlaceholderBytes.
std::string ArgumentSafe(std::string_view value);

} // namespace kavel
