#include "base/Text.h"

#include <gtest/gtest.h>

namespace kavel {
namespace {

struct SplitCase {
    const char* Separators;
    const char* Text;
    std::vector<std::string> Tokens;
};

class ExtractStringsTest : public testing::TestWithParam<SplitCase> {};

TEST_P(ExtractStringsTest, SplitsLikeTheParsersExpect) {
    const SplitCase& c = GetParam();
    std::vector<std::string> tokens;
    const std::size_t n = ExtractStrings(c.Separators, "", c.Text, tokens);
    EXPECT_EQ(tokens, c.Tokens);
    EXPECT_EQ(n, c.Tokens.size());

    // The view variants agree with the copying one.
    std::vector<std::string_view> views;
    ExtractStrings(c.Separators, "", c.Text, views);
    EXPECT_EQ(std::vector<std::string>(views.begin(), views.end()), c.Tokens);
    if (std::string_view(c.Separators).size() == 1) {
        ExtractStrings(c.Separators[0], c.Text, views);
        EXPECT_EQ(std::vector<std::string>(views.begin(), views.end()), c.Tokens);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractStringsTest,
    testing::Values(SplitCase{" ", "", {}}, SplitCase{" ", "a  \"b c\" f", {"a", "\"b c\"", "f"}},
                    SplitCase{" ", "x 'y z", {"x", "'y z"}},
                    SplitCase{" ", "a \"it's\" b", {"a", "\"it's\"", "b"}},
                    SplitCase{" ", "'a \"b' c", {"'a \"b'", "c"}}, SplitCase{";", ";;a;;b;", {"a", "b"}},
                    SplitCase{";", "a\r\nb", {"a", "b"}},
                    SplitCase{";", "a;\"x;y\";b", {"a", "\"x;y\"", "b"}},
                    SplitCase{" ", "\"open\r\nquote\" x", {"\"open\r\nquote\"", "x"}},
                    SplitCase{" ", "   ", {}}, SplitCase{",", "Hier, Wörter", {"Hier", " Wörter"}}));

TEST(ExtractStrings, SkipsWhiteSpaceBeforeTokensOnly) {
    std::vector<std::string> tokens;
    ExtractStrings(",", " ", "  a b,  c", tokens);
    EXPECT_EQ(tokens, (std::vector<std::string>{"a b", "c"}));
}

TEST(CaseFolding, AsciiAndCodePage) {
    EXPECT_TRUE(EqualsAsciiIgnoreCase("ListViewHideWords", "listviewhidewords"));
    EXPECT_FALSE(EqualsAsciiIgnoreCase("\xE4", "\xC4")); // umlauts are not ASCII letters
    EXPECT_TRUE(EqualsIgnoreCase("m\xFCller", "M\xDCLLER"));
    EXPECT_LT(CompareAsciiIgnoreCase("abc", "ABD"), 0);
    EXPECT_TRUE(EndsWithAsciiIgnoreCase("crawl.SEARCH.example", "search.EXAMPLE"));
}

// The comparison goes eight bytes at a time: every pair of byte values, at a position inside
// the first word and in the tail, must compare as the byte-wise ASCII folding does.
TEST(CaseFolding, AsciiEqualityAgreesWithByteWiseFoldingForEveryBytePair) {
    for (const std::size_t position : {std::size_t{3}, std::size_t{9}}) {
        std::string a = "Mozilla/5.0 ";
        std::string b = "mOZILLA/5.0 ";
        for (int x = 0; x < 256; ++x) {
            for (int y = 0; y < 256; ++y) {
                a[position] = static_cast<char>(x);
                b[position] = static_cast<char>(y);
                const bool expected = AsciiUpper(a[position]) == AsciiUpper(b[position]);
                ASSERT_EQ(EqualsAsciiIgnoreCase(a, b), expected) << position << ' ' << x << ' ' << y;
            }
        }
    }
    // Every length and position: short texts, words that overlap, and the last word.
    const std::string upper = "MOZILLA/5.0 (X11)";
    for (std::size_t size = 1; size <= upper.size(); ++size) {
        for (std::size_t position = 0; position < size; ++position) {
            for (int x = 0; x < 256; ++x) {
                for (const int y : {x, x ^ 0x20, (x + 1) & 0xFF}) {
                    std::string a = upper.substr(0, size);
                    std::string b = AsciiLowerCase(a);
                    a[position] = static_cast<char>(x);
                    b[position] = static_cast<char>(y);
                    const bool expected = AsciiUpper(a[position]) == AsciiUpper(b[position]);
                    ASSERT_EQ(EqualsAsciiIgnoreCase(a, b), expected)
                        << size << ' ' << position << ' ' << x << ' ' << y;
                }
            }
        }
    }
    EXPECT_FALSE(EqualsAsciiIgnoreCase("abc", "abcd"));
    EXPECT_TRUE(EqualsAsciiIgnoreCase("", ""));
}

TEST(Numbers, Int32AndBoolean) {
    EXPECT_EQ(ParseInt32("-12"), -12);
    EXPECT_EQ(ParseInt32("+7"), 7);
    EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
    EXPECT_FALSE(ParseInt32("2147483648"));
    EXPECT_FALSE(ParseInt32("-"));
    EXPECT_FALSE(ParseInt32("1.5"));
    EXPECT_FALSE(ParseInt32(" 1"));
    EXPECT_FALSE(ParseInt32("+-1"));
    // The byte counts of log lines: a 64-bit range, the sign allowed, nothing else.
    EXPECT_EQ(ParseInt64("2147483648"), 2147483648);
    EXPECT_EQ(ParseInt64("9223372036854775807"), 9223372036854775807);
    EXPECT_FALSE(ParseInt64("9223372036854775808"));
    EXPECT_EQ(ParseInt64("-5"), -5);
    EXPECT_FALSE(ParseInt64("12a"));
    EXPECT_FALSE(ParseInt64(""));
    EXPECT_FALSE(ParseInt64("--"));
    EXPECT_EQ(ParseBoolean("-1"), true);
    EXPECT_EQ(ParseBoolean("0"), false);
    EXPECT_EQ(ParseBoolean("TRUE"), true);
    EXPECT_EQ(ParseBoolean("False"), false);
    EXPECT_FALSE(ParseBoolean("yes"));
}

} // namespace
} // namespace kavel
