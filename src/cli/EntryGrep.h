#pragma once

#include "acquisition/EntryCells.h"
#include "base/TextPattern.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kavel {
class LogEntry;
}

namespace kavel::cli {

// The options of --grep, as both commands take them.
struct GrepOptions {
    std::optional<std::string> Pattern;
    bool Regex = false;
    bool IgnoreCase = false;

    // Takes argv[i] when it is one of --grep PATTERN (or --grep=PATTERN), --regex and
    // --ignore-case, leaving i at the last argument it used; false for any other argument.
    // Throws std::invalid_argument when --grep has no value.
    bool Take(int argc, char** argv, int& i);
};

// The help text of the three options, their descriptions starting at column (as the other
// options of the command's usage text).
std::string GrepHelp(std::size_t column);

// Whether an entry passes --grep: every entry when no pattern was given.
class EntryGrep {
public:
    // The filter, or the message why the pattern is none.
    static std::variant<EntryGrep, std::string> Make(const GrepOptions& options);

    bool Active() const { return Pattern_ != nullptr; }
    // Before the first Matches: the spiders list decides the new-spider exception in the
    // searched cells; it must outlive the filter.
    void Bind(const SpiderList& spiders);
    bool Matches(const LogEntry& entry);

private:
    EntryGrep() = default;

    // Where the matcher finds it, also after a move.
    std::unique_ptr<TextPattern> Pattern_;
    std::optional<EntryMatcher> Matcher_;
};

} // namespace kavel::cli
