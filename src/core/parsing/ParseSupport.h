#pragma once

// Helpers shared by the two parsers and the record; not part of the parsing interface.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

struct ParseOptions;

// The buffers a parser reuses from line to line on one thread, so that a line costs no
// allocation once they have grown. Each parser keeps its own per thread; what a record takes
// from them is copied into the record.
struct ParseScratch {
    std::vector<std::string_view> Tokens;
    std::vector<std::string_view> Parts;
    std::vector<std::string_view> DateParts;
    std::vector<std::string_view> TimeParts;
    std::vector<std::string_view> Words;
    std::string HostName;
    std::string ServerHostName;
    std::string DateText;
    std::string Request;
    std::string Page;
    std::string Referer;
    std::string UserAgent;
};

// Dequote without allocating in the common case: the result is part of token, or of scratch
// when doubled quotes had to be reduced.
std::string_view DequoteView(std::string_view token, std::string& scratch);
// The reverse look-up of an address when the options ask for names; true with the name.
bool ResolveIfWanted(const ParseOptions& options, std::string_view address, std::string& hostName);

// Splits a log line at blanks, CR and LF. Only the double quote groups: a quoted stretch
// runs to the next double quote that no backslash escapes (the way servers log a quote inside
// a request), so a logged request cannot end its field early. Apostrophes are ordinary bytes:
// they occur in names, queries and injection attempts. Tokens keep their quotes and escapes.
// Returns the count.
std::size_t SplitLogLine(std::string_view text, std::vector<std::string_view>& tokens);
// The position of the double quote that closes the one at open, skipping backslash-escaped
// quotes; npos when none does.
std::size_t ClosingQuote(std::string_view text, std::size_t open);
// The words of a request line: split at blanks only, quotes and apostrophes kept as bytes.
std::size_t SplitAtBlanks(std::string_view text, std::vector<std::string_view>& words);

} // namespace kavel
