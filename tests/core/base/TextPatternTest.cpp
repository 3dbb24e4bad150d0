#include "base/TextPattern.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kavel {
namespace {

constexpr PatternOptions Text{PatternSyntax::Text, true};
constexpr PatternOptions TextAnyCase{PatternSyntax::Text, false};
constexpr PatternOptions Regex{PatternSyntax::RegularExpression, true};
constexpr PatternOptions RegexAnyCase{PatternSyntax::RegularExpression, false};

TextPattern Compiled(std::string_view pattern, PatternOptions options) {
    auto compiled = TextPattern::Compile(pattern, options);
    if (auto* error = std::get_if<std::string>(&compiled))
        ADD_FAILURE() << pattern << ": " << *error;
    return std::move(std::get<TextPattern>(compiled));
}

struct MatchCase {
    const char* name;
    std::string_view pattern;
    PatternOptions options;
    std::string_view text;
    std::vector<TextSpan> spans;
    bool matches;
};

class TextPatternMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(TextPatternMatch, FindsTheSpans) {
    const MatchCase& c = GetParam();
    const TextPattern pattern = Compiled(c.pattern, c.options);
    EXPECT_EQ(pattern.Matches(c.text), c.matches);
    std::vector<TextSpan> spans = {{99, 99}};
    EXPECT_EQ(pattern.FindAll(c.text, spans), c.matches);
    EXPECT_EQ(spans, c.spans);
}

// Umlauts as UTF-8: ä, Ä.
INSTANTIATE_TEST_SUITE_P(
    Patterns, TextPatternMatch,
    testing::Values(
        MatchCase{"EmptyMatchesAll", "", Text, "anything", {}, true},
        MatchCase{"EmptyMatchesEmpty", "", Regex, "", {}, true},
        MatchCase{"TextWithCase", "bot", Text, "Googlebot/2.1", {{6, 3}}, true},
        MatchCase{"TextCaseDiffers", "Bot", Text, "Googlebot/2.1", {}, false},
        MatchCase{"TextAnyCase", "BOT", TextAnyCase, "Googlebot/2.1", {{6, 3}}, true},
        MatchCase{"TextAnyCaseUmlaut", "\xC3\x84rger", TextAnyCase, "kein \xC3\xA4rger", {{5, 6}}, true},
        MatchCase{"TextUmlautWithCase", "\xC3\x84rger", Text, "kein \xC3\xA4rger", {}, false},
        MatchCase{"TextEveryOccurrence", "an", Text, "banana", {{1, 2}, {3, 2}}, true},
        MatchCase{"TextOccurrencesDoNotOverlap", "aa", Text, "aaaaa", {{0, 2}, {2, 2}}, true},
        MatchCase{"TextAtTheVeryEnd", "ml", Text, "a.html", {{4, 2}}, true},
        MatchCase{"TextLongerThanText", "index.html", Text, "index.htm", {}, false},
        MatchCase{"TextMetacharactersAreText", "a.b", Text, "axb a.b", {{4, 3}}, true},
        MatchCase{"TextMetacharactersAnyCase", "(A+)", TextAnyCase, "x(a+)", {{1, 4}}, true},
        MatchCase{"RegexAnchorsAreTheCell", "^GET$", Regex, "GET", {{0, 3}}, true},
        MatchCase{"RegexAnchoredDoesNotMatchInside", "^GET$", Regex, "GETS", {}, false},
        MatchCase{"RegexStartAnchorOnlyOnce", "^a", Regex, "aaa", {{0, 1}}, true},
        MatchCase{"RegexClasses", R"(\d{3})", Regex, "id=12 code=404", {{11, 3}}, true},
        MatchCase{"RegexAlternatives", "png|jpg", Regex, "/a.jpg /b.png", {{3, 3}, {10, 3}}, true},
        MatchCase{"RegexCaseDiffers", "googlebot", Regex, "Googlebot", {}, false},
        MatchCase{"RegexAnyCase", "googlebot", RegexAnyCase, "Googlebot", {{0, 9}}, true},
        MatchCase{"RegexInlineFlag", "(?i)googlebot", Regex, "GOOGLEBOT", {{0, 9}}, true},
        // An empty match counts as a match but marks nothing; the search steps over whole
        // characters.
        MatchCase{"RegexEmptyMatch", "x*", Regex, "\xC3\xA4x", {{2, 1}}, true},
        MatchCase{"RegexOnlyEmptyMatches", "z*", Regex, "abc", {}, true},
        MatchCase{"RegexDotIsACharacter",
                  ".",
                  Regex,
                  "\xC3\xA4"
                  "b",
                  {{0, 2}, {2, 1}},
                  true}),
    [](const testing::TestParamInfo<MatchCase>& param) { return std::string(param.param.name); });

TEST(TextPattern, ReportsWhyAPatternDoesNotCompile) {
    struct Case {
        std::string_view pattern;
        std::string_view message;
    };
    const Case cases[] = {
        {"(", "missing )"},
        {"a{2,1}", "invalid repetition size"},
        {"(?<=a)b", "invalid perl operator"},
        {"x\\", "trailing \\"},
    };
    for (const Case& c : cases) {
        auto compiled = TextPattern::Compile(c.pattern, Regex);
        ASSERT_TRUE(std::holds_alternative<std::string>(compiled)) << c.pattern;
        EXPECT_NE(std::get<std::string>(compiled).find(c.message), std::string::npos)
            << c.pattern << ": " << std::get<std::string>(compiled);
    }
    // A pattern must be UTF-8 to be found in shown texts, which always are.
    for (const PatternOptions options : {Text, TextAnyCase, Regex}) {
        auto compiled = TextPattern::Compile("M\xE4rz", options);
        ASSERT_TRUE(std::holds_alternative<std::string>(compiled));
        EXPECT_EQ(std::get<std::string>(compiled), "invalid UTF-8");
    }
    // As text, the same characters are no error.
    for (const Case& c : cases)
        for (const PatternOptions options : {Text, TextAnyCase})
            EXPECT_TRUE(std::holds_alternative<TextPattern>(TextPattern::Compile(c.pattern, options)))
                << c.pattern;
}

TEST(TextPattern, FindAllStopsAtTheLimit) {
    const TextPattern pattern = Compiled("a", Regex);
    std::vector<TextSpan> spans;
    EXPECT_TRUE(pattern.FindAll(std::string(1000, 'a'), spans, 7));
    EXPECT_EQ(spans.size(), 7u);
    const TextPattern text = Compiled("a", Text);
    EXPECT_TRUE(text.FindAll(std::string(1000, 'a'), spans, 7));
    EXPECT_EQ(spans.size(), 7u);
    EXPECT_EQ(spans.back(), (TextSpan{6, 1}));
}

// Patterns that take a backtracking engine longer than the age of the universe over these
// lines; here they end after one pass over the text.
TEST(TextPattern, HostilePatternsOverLongLinesEnd) {
    std::string line(200000, 'a');
    line += '!';
    for (const char* hostile : {"(a+)+$", "(a|aa)+$", R"((\w+\s?)+$)", "(a+)+b", "(.*a){20}!x"}) {
        const TextPattern pattern = Compiled(hostile, Regex);
        EXPECT_FALSE(pattern.Matches(line)) << hostile;
        std::vector<TextSpan> spans;
        EXPECT_FALSE(pattern.FindAll(line, spans)) << hostile;
    }
    const TextPattern anyCase = Compiled("(a+)+!", RegexAnyCase);
    std::vector<TextSpan> spans;
    EXPECT_TRUE(anyCase.FindAll(line, spans));
    EXPECT_EQ(spans, (std::vector<TextSpan>{{0, line.size()}}));
}

} // namespace
} // namespace kavel
