#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace re2 {
class RE2;
}

namespace kavel {

// How the user's pattern is read: as the text itself or as a regular expression (RE2 syntax:
// no back-references or look-around, and so matching time grows only linearly with the text,
// whatever the pattern and the log line).
enum class PatternSyntax { Text, RegularExpression };

struct PatternOptions {
    PatternSyntax Syntax = PatternSyntax::Text;
    bool CaseSensitive = false;
};

// A matched stretch of a text, in bytes.
struct TextSpan {
    std::size_t Start = 0;
    std::size_t Length = 0;
    friend bool operator==(const TextSpan&, const TextSpan&) = default;
};

// A compiled search pattern, matched against UTF-8 texts (the shown texts of the lists), each
// on its own: "^" and "$" are the start and end of the text. Case is folded by Unicode's simple
// rules ("Ä" finds "ä"). The empty pattern matches every text. Immutable once made, so one
// pattern may be used from several threads.
class TextPattern {
public:
    // The pattern, or the engine's message why it is no pattern (the text is UTF-8 expected:
    // a regular expression that is not reports that).
    static std::variant<TextPattern, std::string> Compile(std::string_view pattern, PatternOptions options);

    TextPattern(TextPattern&&) noexcept;
    TextPattern& operator=(TextPattern&&) noexcept;
    ~TextPattern();

    std::string_view Pattern() const { return Pattern_; }
    PatternOptions Options() const { return Options_; }
    bool Empty() const { return Pattern_.empty(); }

    // Whether the pattern occurs in the text.
    bool Matches(std::string_view text) const;
    // Whether the pattern occurs in one of the texts joined by LF, none of which holds an LF
    // itself (shown texts make line ends visible): the same answer as Matches on each text, in
    // one search. scratch is the caller's working space.
    bool MatchesAnyLine(std::string_view lines, std::string& scratch) const;
    // Whether the pattern is a text of printable ASCII, which is found in a log's bytes exactly
    // where it is found in their shown texts (base/ShownText.h): printable ASCII shows as
    // itself, every other byte as bytes beyond ASCII or a symbol.
    bool FindsLoggedBytes() const { return FindsLoggedBytes_; }
    // MatchesAnyLine over the log bytes of the texts joined by LF, for a pattern that
    // FindsLoggedBytes; none where only the shown texts can tell: bytes beyond ASCII in a
    // search in any case (Unicode folds some letters there to ASCII ones). The lines are the
    // caller's working space: a search in any case folds them where they are.
    std::optional<bool> MatchesLoggedLines(std::string& lines) const;
    // The matches from the start on, one after the other without overlap, at most maxSpans
    // (a text can hold millions of empty matches); spans is cleared first. An empty match
    // gives no span. Returns whether any match was found.
    bool FindAll(std::string_view text, std::vector<TextSpan>& spans, std::size_t maxSpans = 256) const;

private:
    TextPattern(std::string pattern, PatternOptions options);

    std::string Pattern_;
    PatternOptions Options_;
    // None for a case-sensitive text, which is found without the engine.
    std::unique_ptr<re2::RE2> Regex_;
    // The regular expression for texts joined by LF: "^" and "$" at every line, no match across
    // one. None when the pattern would mean something else there (\A, \z, a flag group that
    // turns the line mode off), and for texts, which never hold an LF.
    std::unique_ptr<re2::RE2> LinesRegex_;
    // A text to find in any case that is printable ASCII, in lower case: found in lines of
    // ASCII by folding them, without the engine.
    std::string FoldedText_;
    bool FindsLoggedBytes_ = false;
    // Texts in lower case of which every match of the regular expression holds at least one
    // (the engine's prefilter): lines of ASCII that hold none, folded, need no search by the
    // engine. Empty when the expression has no such texts.
    std::vector<std::string> RequiredTexts_;
};

} // namespace kavel
