#include "base/TextPattern.h"

#include "base/ShownText.h"

#include <re2/re2.h>

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
    return compiled;
}

bool TextPattern::Matches(std::string_view text) const {
    if (Pattern_.empty())
        return true;
    if (!Regex_)
        return text.find(Pattern_) != std::string_view::npos;
    return RE2::PartialMatch(Piece(text), *Regex_);
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
