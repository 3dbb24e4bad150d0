#include "base/CommandLine.h"

#include <gtest/gtest.h>

namespace kavel {
namespace {

using Words = std::vector<std::string>;

struct SplitCase {
    const char* Name;
    std::string Line;
    std::optional<Words> Expected;
};

class SplitCommandLineTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SplitsLikeTheRuleEditorSays) {
    EXPECT_EQ(SplitCommandLine(GetParam().Line), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitCommandLineTest,
    testing::Values(
        SplitCase{"Empty", "", Words{}}, SplitCase{"OnlyBlanks", " \t ", Words{}},
        SplitCase{"Blanks", "  /usr/bin/logger   -t\tkavel ", Words{"/usr/bin/logger", "-t", "kavel"}},
        SplitCase{"Quoted", R"(logger "{rule} on {server}: {count}")",
                  Words{"logger", "{rule} on {server}: {count}"}},
        SplitCase{"EscapedQuoteAndBackslash", R"(x "a \"b\" c\\")", Words{"x", R"(a "b" c\)"}},
        SplitCase{"BackslashOutsideQuotesIsPlain", R"(C:\bin\x a\b\)", Words{R"(C:\bin\x)", R"(a\b\)"}},
        SplitCase{"QuotedPartsTouching", R"(--x="a b"c)", Words{"--x=a bc"}},
        SplitCase{"EmptyQuotedWord", R"(x "" y)", Words{"x", "", "y"}},
        SplitCase{"ShellCharactersAreOrdinary", "x $(touch y); `rm -rf` | z > w",
                  Words{"x", "$(touch", "y);", "`rm", "-rf`", "|", "z", ">", "w"}},
        SplitCase{"UnclosedQuote", R"(x "a b)", std::nullopt},
        SplitCase{"UnclosedAfterEscapedQuote", R"(x "a\")", std::nullopt}),
    [](const testing::TestParamInfo<SplitCase>& param) { return std::string(param.param.Name); });

TEST(JoinCommandLine, ReadsBackWordForWord) {
    const std::vector<Words> cases = {
        {"logger", "-t", "kavel"},
        {"x", "", "a b", "tab\there", R"(q"uote)", R"(back\slash)", R"(end\)", R"("\")"},
        {},
    };
    for (const Words& words : cases)
        EXPECT_EQ(SplitCommandLine(JoinCommandLine(words)), words) << JoinCommandLine(words);
}

const PlaceholderValues Values = {{"rule", "5xx"}, {"server", "www"}, {"page", "/a {rule} b"}};

TEST(FillPlaceholders, ReplacesKnownNamesInOnePass) {
    EXPECT_EQ(FillPlaceholders("{rule} on {server}", Values), "5xx on www");
    EXPECT_EQ(FillPlaceholders("{rule}{server}{rule}", Values), "5xxwww5xx");
    // Text that a value brings in is not searched again: a page cannot name another placeholder.
    EXPECT_EQ(FillPlaceholders("[{page}]", Values), "[/a {rule} b]");
    EXPECT_EQ(FillPlaceholders("{unknown} {rule", Values), "{unknown} {rule");
    EXPECT_EQ(FillPlaceholders("{{rule}}", Values), "{5xx}");
    EXPECT_EQ(FillPlaceholders("", Values), "");
}

TEST(FillPlaceholders, CutsLongValuesAndArguments) {
    const std::string huge(1 << 20, 'x');
    const PlaceholderValues values = {{"page", huge}};
    EXPECT_EQ(FillPlaceholders("{page}", values), std::string(MaxPlaceholderBytes, 'x'));
    EXPECT_EQ(FillPlaceholders("<{page}>", values), "<" + std::string(MaxPlaceholderBytes, 'x') + ">");
    std::string many;
    for (int i = 0; i < 20; ++i)
        many += "{page}";
    EXPECT_EQ(FillPlaceholders(many, values).size(), MaxArgumentBytes);
}

TEST(ArgumentSafe, NulBecomesVisibleAndTheValueIsCut) {
    EXPECT_EQ(ArgumentSafe(std::string("a\0b", 3)), "a\\0b");
    EXPECT_EQ(ArgumentSafe("line\nbreak`$(x)`"), "line\nbreak`$(x)`");
    EXPECT_EQ(ArgumentSafe(std::string(MaxPlaceholderBytes + 5, 'y')).size(), MaxPlaceholderBytes);
    // A NUL at the very end of the room does not overrun it.
    const std::string nearlyFull = std::string(MaxPlaceholderBytes - 1, 'z') + std::string(1, '\0');
    EXPECT_EQ(ArgumentSafe(nearlyFull).size(), MaxPlaceholderBytes);
}

} // namespace
} // namespace kavel
