#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kavel {

// A compiled pattern that a text either matches or not: what an alert rule's "match:"
// condition tests a client address or a page with. The engine behind it is exchangeable
// (SetTextPatternEngine); the built-in one matches plain text.
class TextPattern {
public:
    virtual ~TextPattern() = default;
    virtual bool Matches(std::string_view text) const = 0;
};

// Plain text: the pattern occurs anywhere in the text, compared ignoring ASCII case. An empty
// pattern matches every text.
class PlainTextPattern final : public TextPattern {
public:
    explicit PlainTextPattern(std::string_view pattern);
    bool Matches(std::string_view text) const override;

private:
    std::string Folded_;
};

// What compiling a pattern gives: the pattern, or the engine's message why it is no pattern.
struct CompiledPattern {
    std::shared_ptr<const TextPattern> Pattern;
    std::string Error;
};
using TextPatternEngine = std::function<CompiledPattern(std::string_view pattern)>;

// The engine that CompileTextPattern uses; an empty function restores plain text. Install it
// before rules are compiled (main thread, at start).
void SetTextPatternEngine(TextPatternEngine engine);
CompiledPattern CompileTextPattern(std::string_view pattern);

} // namespace kavel
