#include "base/TextPattern.h"

#include "base/Text.h"

#include <algorithm>

namespace kavel {

namespace {

TextPatternEngine& InstalledEngine() {
    static TextPatternEngine engine;
    return engine;
}

} // namespace

PlainTextPattern::PlainTextPattern(std::string_view pattern)
    : Folded_(AsciiLowerCase(pattern)) {}

bool PlainTextPattern::Matches(std::string_view text) const {
    if (Folded_.empty())
        return true;
    const auto found = std::search(text.begin(), text.end(), Folded_.begin(), Folded_.end(),
                                   [](char a, char b) { return AsciiLower(a) == b; });
    return found != text.end();
}

void SetTextPatternEngine(TextPatternEngine engine) {
    InstalledEngine() = std::move(engine);
}

CompiledPattern CompileTextPattern(std::string_view pattern) {
    if (const TextPatternEngine& engine = InstalledEngine())
        return engine(pattern);
    return CompiledPattern{std::make_shared<PlainTextPattern>(pattern), {}};
}

} // namespace kavel
