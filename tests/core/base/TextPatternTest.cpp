#include "base/TextPattern.h"

#include <gtest/gtest.h>

namespace kavel {
namespace {

TEST(PlainTextPattern, FindsThePatternAnywhereIgnoringAsciiCase) {
    const PlainTextPattern pattern("/WP-Admin");
    EXPECT_TRUE(pattern.Matches("/wp-admin/setup.php"));
    EXPECT_TRUE(pattern.Matches("/blog/WP-ADMIN"));
    EXPECT_FALSE(pattern.Matches("/wp-admi"));
    EXPECT_FALSE(pattern.Matches(""));
    EXPECT_TRUE(PlainTextPattern("").Matches("anything"));
    // Only ASCII letters fold: a byte above 127 must be equal.
    EXPECT_FALSE(PlainTextPattern("\xC4").Matches("\xE4"));
    // No pattern language: the characters stand for themselves.
    EXPECT_TRUE(PlainTextPattern("a.b*").Matches("xa.b*y"));
    EXPECT_FALSE(PlainTextPattern("a.b*").Matches("axbb"));
}

TEST(TextPatternEngine, AnInstalledEngineCompilesThePatterns) {
    SetTextPatternEngine([](std::string_view pattern) {
        if (pattern == "(")
            return CompiledPattern{nullptr, "unbalanced"};
        return CompiledPattern{std::make_shared<PlainTextPattern>("engine"), {}};
    });
    EXPECT_EQ(CompileTextPattern("(").Error, "unbalanced");
    EXPECT_TRUE(CompileTextPattern("x").Pattern->Matches("ENGINE"));
    SetTextPatternEngine({});
    EXPECT_TRUE(CompileTextPattern("x").Pattern->Matches("x"));
    EXPECT_TRUE(CompileTextPattern("(").Error.empty());
}

} // namespace
} // namespace kavel
