#pragma once

// Helpers shared by the two parsers and the record; not part of the parsing interface.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// Dequote without allocating in the common case: the result is part of token, or of scratch
// when doubled quotes had to be reduced.
std::string_view DequoteView(std::string_view token, std::string& scratch);
// The reverse look-up of an address when resolve is set; true with the name.
bool ResolveIfWanted(bool resolve, std::string_view address, std::string& hostName);

// ExtractStrings(' ', text, tokens) with the same tokens, quotes and line ends included,
// for whole log lines: runs of plain bytes are skipped several at a time. Returns the count.
std::size_t SplitLogLine(std::string_view text, std::vector<std::string_view>& tokens);

} // namespace kavel
