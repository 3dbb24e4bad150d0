#include "base/TextPattern.h"

#include "base/ShownText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <re2/filtered_re2.h>
#include <re2/re2.h>
#include <string.h>

namespace kavel {
namespace {

re2::StringPiece Piece(std::string_view text) {
    return {text.data(), text.size()};
}

// The length of the UTF-8 sequence that starts with this byte (1 for a byte that starts none),
// to step over an empty match without cutting a character.
std::size_t SequenceLength(char lead) {
    const auto byte = static_cast<unsigned char>(lead);
    if (byte >= 0xF0)
        return 4;
    if (byte >= 0xE0)
        return 3;
    if (byte >= 0xC0)
        return 2;
    return 1;
}

bool IsPrintableAscii(std::string_view text) {
    for (const char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// The text with A-Z in lower case into folded, eight bytes at a time; false when it holds a byte
// beyond ASCII: Unicode folds some letters there to ASCII ones (the Kelvin sign to "k").
bool FoldAscii(std::string_view text, std::string& folded) {
    constexpr std::uint64_t High = 0x8080808080808080u;
    folded.resize(text.size());
    std::uint64_t seen = 0;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        seen |= word;
        const std::uint64_t low = word & ~High;
        // The high bit of each byte: above "Z", at least "A"; the difference is A-Z.
        const std::uint64_t aboveZ = low + 0x2525252525252525u;
        const std::uint64_t fromA = low + 0x3F3F3F3F3F3F3F3Fu;
        const std::uint64_t upper = (fromA ^ aboveZ) & ~word & High;
        word |= upper >> 2;
        std::memcpy(folded.data() + i, &word, 8);
    }
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        seen |= c;
        folded[i] = Lower(static_cast<char>(c));
    }
    return (seen & High) == 0;
}

// Whether a regular expression means the same over texts joined by LF in line mode as over
// each text: not when it anchors at the whole text (\A, \z), takes any byte (\C, which
// could be an LF) or turns a flag off ("(?-m)" and the like). A backslash before a backslash
// is taken for one of these too, which only costs the joined search.
bool FitsJoinedLines(std::string_view pattern) {
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == '\\' && (pattern[i + 1] == 'A' || pattern[i + 1] == 'z' || pattern[i + 1] == 'C'))
            return false;
        if (pattern[i] == '(' && pattern[i + 1] == '?') {
            for (std::size_t k = i + 2; k < pattern.size() && pattern[k] != ')' && pattern[k] != ':'; ++k)
                if (pattern[k] == '-')
                    return false;
        }
    }
    return true;
}

// A short text is found fastest by looking for its first byte and comparing there; a long
// one, which a hostile line could make that take long, by the C library's linear search.
bool Contains(std::string_view text, std::string_view part) {
    constexpr std::size_t LongText = 16;
    if (part.size() <= LongText)
        return text.find(part) != std::string_view::npos;
    return ::memmem(text.data(), text.size(), part.data(), part.size()) != nullptr;
}

// The texts in lower case of which every match of the expression holds one, or none when the
// expression can match without any (".*", "\d+") or would need too many to be worth the look.
std::vector<std::string> RequiredTexts(std::string_view pattern, const RE2::Options& engine) {
    constexpr int ShortestText = 3;
    constexpr std::size_t MostTexts = 8;
    re2::FilteredRE2 filter(ShortestText);
    int id = 0;
    if (filter.Add(Piece(pattern), engine, &id) != RE2::NoError)
        return {};
    std::vector<std::string> texts;
    filter.Compile(&texts);
    // An expression that passes with no text found is not filtered at all.
    std::vector<int> passing;
    filter.AllPotentials({}, &passing);
    if (!passing.empty() || texts.empty() || texts.size() > MostTexts)
        return {};
    return texts;
}

} // namespace

TextPattern::TextPattern(std::string pattern, PatternOptions options)
    : Pattern_(std::move(pattern))
    , Options_(options) {}

TextPattern::TextPattern(TextPattern&&) noexcept = default;
TextPattern& TextPattern::operator=(TextPattern&&) noexcept = default;
TextPattern::~TextPattern() = default;

std::variant<TextPattern, std::string> TextPattern::Compile(std::string_view pattern,
                                                            PatternOptions options) {
    if (!IsWellFormedUtf8(pattern))
        return std::string("invalid UTF-8");
    TextPattern compiled{std::string(pattern), options};
    if (options.Syntax == PatternSyntax::Text && !pattern.empty() && IsPrintableAscii(pattern))
        compiled.FindsLoggedBytes_ = true;
    if (pattern.empty() || (options.Syntax == PatternSyntax::Text && options.CaseSensitive))
        return compiled;
    RE2::Options engine;
    engine.set_log_errors(false);
    engine.set_encoding(RE2::Options::EncodingUTF8);
    engine.set_literal(options.Syntax == PatternSyntax::Text);
    engine.set_case_sensitive(options.CaseSensitive);
    auto regex = std::make_unique<RE2>(Piece(pattern), engine);
    if (!regex->ok())
        return regex->error();
    compiled.Regex_ = std::move(regex);
    if (options.Syntax == PatternSyntax::Text) {
        if (IsPrintableAscii(pattern))
            for (const char c : pattern)
                compiled.FoldedText_ += Lower(c);
    } else if (FitsJoinedLines(pattern)) {
        engine.set_never_nl(true);
        const std::string lines = "(?m:" + std::string(pattern) + ")";
        auto linesRegex = std::make_unique<RE2>(Piece(lines), engine);
        if (linesRegex->ok()) {
            compiled.LinesRegex_ = std::move(linesRegex);
            compiled.RequiredTexts_ = RequiredTexts(lines, engine);
        }
    }
    return compiled;
}

bool TextPattern::Matches(std::string_view text) const {
    if (Pattern_.empty())
        return true;
    if (!Regex_)
        return Contains(text, Pattern_);
    return RE2::PartialMatch(Piece(text), *Regex_);
}

bool TextPattern::MatchesAnyLine(std::string_view lines, std::string& scratch) const {
    if (Pattern_.empty())
        return true;
    if (Options_.Syntax == PatternSyntax::Text) {
        // No text holds an LF: a text with one is found in none, one without never reaches
        // over one.
        if (Pattern_.find('\n') != std::string::npos)
            return false;
        if (!Regex_)
            return Contains(lines, Pattern_);
        if (!FoldedText_.empty() && FoldAscii(lines, scratch))
            return Contains(scratch, FoldedText_);
        return RE2::PartialMatch(Piece(lines), *Regex_);
    }
    if (LinesRegex_) {
        if (!RequiredTexts_.empty() && FoldAscii(lines, scratch)) {
            const bool holdsOne =
                std::any_of(RequiredTexts_.begin(), RequiredTexts_.end(),
                            [&scratch](const std::string& text) { return Contains(scratch, text); });
            if (!holdsOne)
                return false;
        }
        return RE2::PartialMatch(Piece(lines), *LinesRegex_);
    }
    for (std::size_t start = 0;;) {
        const std::size_t end = lines.find('\n', start);
        if (Matches(lines.substr(start, end - start)))
            return true;
        if (end == std::string_view::npos)
            return false;
        start = end + 1;
    }
}

std::optional<bool> TextPattern::MatchesLoggedLines(std::string& lines) const {
    if (!FindsLoggedBytes_)
        return std::nullopt;
    if (!Regex_)
        return Contains(lines, Pattern_);
    if (!FoldAscii(lines, lines))
        return std::nullopt;
    return Contains(lines, FoldedText_);
}

bool TextPattern::FindAll(std::string_view text, std::vector<TextSpan>& spans, std::size_t maxSpans) const {
    spans.clear();
    if (Pattern_.empty())
        return true;
    if (!Regex_) {
        for (std::size_t at = text.find(Pattern_); at != std::string_view::npos && spans.size() < maxSpans;
             at = text.find(Pattern_, at + Pattern_.size()))
            spans.push_back({at, Pattern_.size()});
        return !spans.empty();
    }
    bool found = false;
    std::size_t at = 0;
    re2::StringPiece match;
    while (at <= text.size() && spans.size() < maxSpans &&
           Regex_->Match(Piece(text), at, text.size(), RE2::UNANCHORED, &match, 1)) {
        found = true;
        const auto start = static_cast<std::size_t>(match.data() - text.data());
        const std::size_t length = match.size();
        if (length > 0) {
            spans.push_back({start, length});
            at = start + length;
        } else if (start < text.size()) {
            at = start + SequenceLength(text[start]);
        } else {
            break;
        }
    }
    return found;
}

} // namespace kavel
